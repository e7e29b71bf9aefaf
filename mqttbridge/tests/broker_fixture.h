// A real broker on a free loopback port, and a test client that records what it receives.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "testkit/free_port.h"
#include "testkit/wait_for.h"

namespace mqtttest {

inline bool canConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

inline int freeLoopbackPort() {
    return testkit::freeListenPort();
}

// /usr/sbin/mosquitto as a child process, killed and reaped by this object.
class Broker {
public:
    // `listenerOptions`: more lines for the listener (TLS files, say).
    explicit Broker(std::string folder, std::string listenerOptions = {})
        : m_folder(std::move(folder)), m_options(std::move(listenerOptions)) {}
    ~Broker() { stop(); }

    // Starts on `port`, or on a free port when 0 (trying another one if it was taken).
    bool start(int port = 0) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_port = port ? port : freeLoopbackPort();
            const std::string conf = m_folder + "/broker.conf";
            std::ofstream(conf) << "listener " << m_port << " 127.0.0.1\n"
                                << m_options << "allow_anonymous true\npersistence false\n";
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            const std::string log = m_folder + "/broker.log";
            posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0600);
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
            const char* argv[] = {"/usr/sbin/mosquitto", "-c", conf.c_str(), nullptr};
            const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr,
                                       const_cast<char* const*>(argv), environ);
            posix_spawn_file_actions_destroy(&actions);
            if (rc != 0) return false;
            if (testkit::waitFor([&] { return canConnect(m_port) || exited(); }) && !exited()) {
                return true;
            }
            stop();
        }
        return false;
    }

    void stop() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    int port() const { return m_port; }

private:
    bool exited() { return ::waitpid(m_pid, nullptr, WNOHANG) == m_pid && (m_pid = -1, true); }

    std::string m_folder;
    std::string m_options;
    pid_t m_pid = -1;
    int m_port = 0;
};

// Connects as `clientId` and leaves at once: the broker drops the client that held the id
// before, which then has to reconnect.
inline bool takeOverClientId(int port, const std::string& clientId) {
    mosquitto* client = mosquitto_new(clientId.c_str(), true, nullptr);
    std::atomic<bool> accepted{false};
    mosquitto_user_data_set(client, &accepted);
    mosquitto_connect_callback_set(client, [](mosquitto*, void* data, int rc) {
        if (rc == 0) static_cast<std::atomic<bool>*>(data)->store(true);
    });
    bool ok = mosquitto_connect(client, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS;
    ok = ok && testkit::waitFor([&] {
             mosquitto_loop(client, 10, 1);
             return accepted.load();
         });
    mosquitto_disconnect(client);
    mosquitto_destroy(client);
    return ok;
}

// A client subscribed to everything, keeping every message in arrival order.
class Recorder {
public:
    struct Entry {
        std::string topic;
        std::string payload;
        bool retained;
    };

    // Returns once subscribed (see subscribed()).
    explicit Recorder(int port) {
        static const int init = mosquitto_lib_init();
        (void)init;
        m_client = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(m_client, [](mosquitto* client, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(client, nullptr, "#", 1);
        });
        mosquitto_subscribe_callback_set(m_client,
                                         [](mosquitto*, void* data, int, int, const int*) {
                                             static_cast<Recorder*>(data)->m_subscribed = true;
                                         });
        mosquitto_message_callback_set(
            m_client, [](mosquitto*, void* data, const mosquitto_message* message) {
                auto& self = *static_cast<Recorder*>(data);
                std::lock_guard guard(self.m_lock);
                self.m_entries.push_back(
                    {message->topic,
                     std::string(static_cast<const char*>(message->payload), message->payloadlen),
                     message->retain});
            });
        mosquitto_connect(m_client, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_client);
        testkit::waitFor([&] { return subscribed(); });
    }
    bool subscribed() const { return m_subscribed; }
    ~Recorder() {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        mosquitto_destroy(m_client);
    }

    void publish(const std::string& topic, const std::string& payload, bool retain = false,
                 int qos = 1) {
        mosquitto_publish(m_client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), qos, retain);
    }

    // How many messages arrived on `topic` with `payload`.
    int count(const std::string& topic, const std::string& payload) {
        std::lock_guard guard(m_lock);
        int n = 0;
        for (const auto& entry : m_entries) n += entry.topic == topic && entry.payload == payload;
        return n;
    }

    std::vector<Entry> entries() {
        std::lock_guard guard(m_lock);
        return m_entries;
    }

    // The newest payload on `topic`, if any arrived.
    std::optional<std::string> latest(const std::string& topic) {
        std::lock_guard guard(m_lock);
        for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
            if (it->topic == topic) return it->payload;
        }
        return std::nullopt;
    }

    bool waitLatest(const std::string& topic, const std::string& payload) {
        return testkit::waitFor([&] { return latest(topic) == payload; });
    }

private:
    mosquitto* m_client;
    std::atomic<bool> m_subscribed{false};
    std::mutex m_lock;
    std::vector<Entry> m_entries;
};

}  // namespace mqtttest
