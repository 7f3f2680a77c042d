#!/bin/sh
# Installs the build into a temporary prefix, builds a program against the installed header
# and library only (pkg-config, linked by name), runs it, and checks the exported symbols.
# Arguments: build directory, consumer source, extra compiler flags.
set -eu
build=$1
source=$2
extra=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
pc=$(find "$tmp/prefix" -name tidelink.pc | head -n 1)
[ -n "$pc" ] || { echo "tidelink.pc not installed"; exit 1; }
export PKG_CONFIG_PATH="$(dirname "$pc")"
libdir=$(pkg-config --variable=libdir tidelink)

# shellcheck disable=SC2046,SC2086
g++ $extra $(pkg-config --cflags tidelink) -Wall -Wextra -Werror "$source" -o "$tmp/consumer" $(pkg-config --libs tidelink)
LD_LIBRARY_PATH="$libdir" "$tmp/consumer"

# Every defined dynamic symbol is ours (records, address, vector, manager) or the runtime's.
nm -D --defined-only "$libdir/libtidelink.so" | awk '{print $3}' | c++filt > "$tmp/symbols"
grep -q '^RAROREzovedodidAdizora::update(float)$' "$tmp/symbols" || { echo "manager not exported"; exit 1; }
grep -q '^KSTMP::ShipInfo::ShipInfo()$' "$tmp/symbols" || { echo "records not exported"; exit 1; }
grep -q '^KSTMP::FakeAddress::operator<(KSTMP::FakeAddress const&) const$' "$tmp/symbols" || { echo "address not exported"; exit 1; }
if grep -v -E '^(KSTMP::|RAROREzovedodidAdizora::)' "$tmp/symbols" | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' > "$tmp/foreign"; then
    echo "symbols exported beyond the interface:"
    cat "$tmp/foreign"
    exit 1
fi
echo "exported: $(wc -l < "$tmp/symbols") symbols, all of the interface"
