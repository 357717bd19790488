#!/usr/bin/env bash
# Installs the build in BUILD_DIR into a throw-away prefix, then runs the installed runner on an
# installed example and checks the manual page is there.
#   install-test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quillon-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
export QUILLON_KEY_FILE=$prefix/key XDG_CONFIG_HOME=$prefix/config
out=$("$prefix/bin/quillon" run "$prefix/share/doc/quillon/examples/hello.xml" 2>&1)
grep -q "Hello from quillon." <<<"$out" || { echo "unexpected output: $out" >&2; exit 1; }
test -s "$prefix/share/man/man1/quillon.1" || { echo "no manual page installed" >&2; exit 1; }
test -s "$prefix/share/doc/quillon/README.md" || { echo "no README installed" >&2; exit 1; }
echo "installed runner ran examples/hello.xml from $prefix"
