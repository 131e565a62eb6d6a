#!/bin/sh
# Runs vexilo-pack.jar from the directory this script really lives in (following symlinks,
# so a link in ~/bin or /usr/local/bin works), with $JAVA_HOME/bin/java when JAVA_HOME is set.
self=$0
while [ -h "$self" ]; do
  link=$(readlink "$self") || break
  case $link in
    /*) self=$link ;;
    *) self=$(dirname "$self")/$link ;;
  esac
done
dir=$(cd "$(dirname "$self")" && pwd -P) || exit 1
jar=$dir/vexilo-pack.jar
if [ ! -f "$jar" ]; then
  echo "vexilo-pack: cannot find $jar" >&2
  exit 1
fi

if [ -n "${JAVA_HOME:-}" ]; then
  java=$JAVA_HOME/bin/java
  if [ ! -x "$java" ]; then
    echo "vexilo-pack: JAVA_HOME is set but $java is not executable" >&2
    exit 1
  fi
elif command -v java >/dev/null 2>&1; then
  java=java
else
  echo "vexilo-pack: no java found: set JAVA_HOME or put java on PATH" >&2
  exit 1
fi
exec "$java" -jar "$jar" "$@"
