// Alerts posted as JSON to an http or https URL.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ssl/context.hpp>
#include <mutex>

#include "alert_target.h"
#include "alerts/alert_settings.h"

namespace alerts {

class WebhookTarget final : public AlertTarget {
public:
    explicit WebhookTarget(WebhookUrl url);
    // A 2xx answer to the POST is a delivery; anything else (no connection, a time-out, a
    // bad certificate, another status) is not.
    bool deliver(const std::string& json, std::chrono::milliseconds timeout,
                 std::string& why) override;
    void abort() override;
    const char* kind() const override { return "webhook"; }

private:
    std::string request(const std::string& json) const;

    WebhookUrl m_url;
    asio::ssl::context m_tls;
    std::mutex m_mutex;
    asio::io_context* m_running = nullptr;  // the delivery in progress, under m_mutex
    bool m_aborted = false;
};

}  // namespace alerts
