#!/usr/bin/env bash
# Fetches the pinned Hadoop jars with Maven: the shaded client jars the modules and their clients
# run on into jars/hadoop/lib (java/hadoop/pom.xml), and the embedded cluster's own jars (HDFS,
# YARN with MapReduce, the Kerberos KDC) into jars/hadoop/cluster (java/hadoop/cluster/pom.xml).
# Once a set is there, nothing is fetched again until its pom changes.
set -euo pipefail
cd "$(dirname "$0")/.."

fetch() { # pom, directory
  local stamp
  stamp="$2/.fetched-$(sha1sum "$1" | cut -c1-12)"
  [ -f "$stamp" ] && return 0
  echo "fetch-hadoop: fetching the jars of $1 with Maven"
  rm -rf "$2"
  mvn -q -B -f "$1" dependency:copy-dependencies -DoutputDirectory="$PWD/$2" \
    -DincludeScope=runtime
  touch "$stamp"
}

fetch java/hadoop/pom.xml jars/hadoop/lib
fetch java/hadoop/cluster/pom.xml jars/hadoop/cluster
