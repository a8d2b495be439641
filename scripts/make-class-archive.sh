#!/usr/bin/env bash
# Makes the class data sharing archive qxdfs maps at start: the classes its commands load (the
# JDK's and those of the jars its JVM starts with), listed by running a few of them on the local
# file system. Best effort: without the archive qxdfs starts slower and works the same, so a
# failure says so and succeeds.
#   make-class-archive.sh QXDFS JAVA ARCHIVE CLASS_PATH
set -u
qxdfs=$1 java=$2 archive=$3 classpath=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
skip() {
  echo "class archive: not made ($1); qxdfs starts without it"
  rm -f "$archive"
  exit 0
}
printf 'some text\n' > "$work/f"
QXDFS_CLASS_ARCHIVE= QXHOST_JVM_OPTIONS="-XX:DumpLoadedClassList=$work/classes" "$qxdfs" \
  mkdir "$work/d" \; put "$work/f" "$work/d/f" \; ls -l "$work/d" \; stat "$work/d/f" \; \
  cat "$work/d/f" \; get "$work/d/f" "$work/g" \; cp "$work/d/f" "$work/d/h" \; \
  ls "$work/d/*" \; rm -r -skipTrash "$work/d" > "$work/out" 2>&1 || skip "qxdfs failed: $(head -1 "$work/out")"
[ -s "$work/classes" ] || skip "no classes listed"
# The archive holds the classes of the jars on the class path it is made with; qxdfs starts with
# the same class path, else the JVM maps none of it.
"$java" -Xshare:dump -XX:SharedClassListFile="$work/classes" -XX:SharedArchiveFile="$work/archive" \
  -cp "$classpath" > "$work/dump" 2>&1 || skip "the JVM did not dump: $(grep -m1 -i error "$work/dump")"
mv "$work/archive" "$archive"
