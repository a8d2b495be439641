#!/usr/bin/env bash
# Makes the class data sharing archive qxdfs maps at start: the classes its commands load (the
# JDK's and those of the jars its JVM starts with), listed by running a few of them on the local
# file system and on an embedded HDFS started for the purpose (its client classes are most of an
# HDFS command's start). Best effort: without the archive qxdfs starts slower and works the same,
# so a failure says so and succeeds.
#   make-class-archive.sh QXDFS JAVA ARCHIVE CLASS_PATH
set -u
qxdfs=$1 java=$2 archive=$3 classpath=$4
work=$(mktemp -d)
export QXDFS_CLUSTER_HOME=$work/home
trap '"$qxdfs" cluster stop >/dev/null 2>&1; rm -rf "$work"' EXIT
skip() {
  echo "class archive: not made ($1); qxdfs starts without it"
  rm -f "$archive"
  exit 0
}
# The same commands on each file system, listing what they load.
list() {
  local fs=$1 root=$2
  QXDFS_CLASS_ARCHIVE= QXHOST_JVM_OPTIONS="-XX:DumpLoadedClassList=$work/classes-$fs" "$qxdfs" \
    --fs "$fs" mkdir "$root/d" \; put "$work/f" "$root/d/f" \; ls "$root/d" \; \
    stat "$root/d/f" \; cat "$root/d/f" \; get "$root/d/f" "$work/g-$fs" \; \
    cp "$root/d/f" "$root/d/h" \; ls "$root/d/*" \; rm -r -skipTrash "$root/d" > "$work/out" 2>&1 ||
    skip "qxdfs failed: $(head -1 "$work/out")"
}
printf 'some text\n' > "$work/f"
list local "$work"
if "$qxdfs" cluster start --datanodes 1 > "$work/cluster" 2>&1; then
  list embedded ""
else
  echo "class archive: HDFS's classes left out (no embedded cluster: $(tail -1 "$work/cluster"))"
fi
cat "$work"/classes-* > "$work/classes"
[ -s "$work/classes" ] || skip "no classes listed"
# The archive holds the classes of the jars on the class path it is made with; qxdfs starts with
# the same class path, else the JVM maps none of it.
"$java" -Xshare:dump -XX:SharedClassListFile="$work/classes" -XX:SharedArchiveFile="$work/archive" \
  -cp "$classpath" > "$work/dump" 2>&1 || skip "the JVM did not dump: $(grep -m1 -i error "$work/dump")"
mv "$work/archive" "$archive"
