#!/usr/bin/env bash
# Builds the demo application, packs it with the Linux console image and runs it.
set -euo pipefail
dist=$(cd "${1:-build/dist}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work="$(dirname "$dist")/demo"
rm -rf "$work" && mkdir -p "$work/classes"
javac --release 8 -nowarn -implicit:none -sourcepath "$here/../java" -d "$work/classes" \
  $(find "$here/hello/src" -name '*.java')
jar --create --file "$work/hello.jar" -C "$work/classes" .
"$dist/vexilo-pack" --image "$dist/launcher-console" --config "$here/hello/hello.cfg" \
  --jar "$work/hello.jar" --out "$work/hello"
echo "Packed $work/hello ($(stat -c %s "$work/hello") bytes); running it:"
echo
# The runtime is found through JAVA_HOME, as a user's installed JDK would be.
export JAVA_HOME="${JAVA_HOME:-$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")}"
"$work/hello" first-arg "second arg"
