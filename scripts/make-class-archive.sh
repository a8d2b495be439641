#!/usr/bin/env bash
# Makes the class data sharing archive qxdfs maps at start: the JDK's classes that its commands
# load, listed by running a few of them on the local file system. Best effort: without the
# archive qxdfs starts a little slower and works the same, so a failure says so and succeeds.
#   make-class-archive.sh QXDFS JAVA ARCHIVE
set -u
qxdfs=$1 java=$2 archive=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
skip() {
  echo "class archive: not made ($1); qxdfs starts without it"
  rm -f "$archive"
  exit 0
}
printf 'some text\n' > "$work/f"
QXDFS_CLASS_ARCHIVE= QXHOST_JVM_OPTIONS="-XX:DumpLoadedClassList=$work/loaded" "$qxdfs" \
  mkdir "$work/d" \; put "$work/f" "$work/d/f" \; ls -l "$work/d" \; stat "$work/d/f" \; \
  cat "$work/d/f" \; get "$work/d/f" "$work/g" \; cp "$work/d/f" "$work/d/h" \; \
  ls "$work/d/*" \; rm -r -skipTrash "$work/d" > "$work/out" 2>&1 || skip "qxdfs failed: $(head -1 "$work/out")"
# Only the JDK's own classes can be shared: Hadoop's come through the host's appendable system
# class loader, which the JVM does not share classes for.
grep -E '^(java|javax|jdk|sun|com/sun)/' "$work/loaded" > "$work/classes" || skip "no classes listed"
"$java" -Xshare:dump -XX:SharedClassListFile="$work/classes" -XX:SharedArchiveFile="$work/archive" \
  > "$work/dump" 2>&1 || skip "the JVM did not dump: $(grep -m1 -i error "$work/dump")"
mv "$work/archive" "$archive"
