#!/usr/bin/env bash
# Renders the console with the demo fleet on a virtual display (Xvfb) into a PNG.
#   scripts/screenshot.sh [OUTPUT.png]      (default: vantrel-screenshot.png)
# Installs xvfb, xauth and the CJK font if missing, builds like ./run.sh (VANTREL_BIN=<folder>
# uses programs built elsewhere), then runs the console on a private port and lock folder, so
# a console already running is not disturbed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

out=${1:-vantrel-screenshot.png}
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

vantrel_ensure_packages "${VANTREL_RUN_PACKAGES[@]}" xvfb xauth
bin=${VANTREL_BIN:-build-release/bin}
case "$bin" in /*) ;; *) bin="$PWD/$bin" ;; esac
if [ -z "${VANTREL_BIN:-}" ]; then
    vantrel_build build-release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_SANITIZE=
fi
for tool in vantrel vantrel-demo-fleet vantrel-grab; do
    [ -x "$bin/$tool" ] || { echo "screenshot: $bin/$tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
port=$((20000 + RANDOM % 20000))
settle=${VANTREL_SCREENSHOT_SETTLE:-8}

# Runs inside xvfb-run: console, fleet, a pause while the rows fill in, the grab.
cat > "$work/inside.sh" <<INSIDE
#!/usr/bin/env bash
set -u
"$bin/vantrel" --port=$port --lock-dir="$work" &
console=\$!
for _ in \$(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done
"$bin/vantrel-demo-fleet" --port $port > "$work/fleet.log" 2>&1 &
fleet=\$!
sleep $settle
"$bin/vantrel-grab" "$out"
status=\$?
kill \$fleet \$console 2>/dev/null
wait \$fleet \$console 2>/dev/null
exit \$status
INSIDE
chmod +x "$work/inside.sh"

xvfb-run -a -s "-screen 0 1920x1080x24" "$work/inside.sh"
echo "screenshot: $out"
