#!/usr/bin/env bash
# Fetches the pinned Hadoop client jars and the in-process HDFS into jars/hadoop/lib with Maven.
# Once they are there, nothing is fetched again until the pom changes.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's:.*<hadoop.version>\(.*\)</hadoop.version>.*:\1:p' java/hadoop/pom.xml)
stamp=jars/hadoop/lib/.fetched-$(sha1sum java/hadoop/pom.xml | cut -c1-12)
[ -f "$stamp" ] && exit 0
echo "fetch-hadoop: fetching Hadoop $version jars with Maven"
rm -rf jars/hadoop/lib
mvn -q -B -f java/hadoop/pom.xml dependency:copy-dependencies \
  -DoutputDirectory="$PWD/jars/hadoop/lib" -DincludeScope=runtime
touch "$stamp"
