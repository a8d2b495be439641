package qxhost.cluster;

import java.io.IOException;
import java.nio.file.Path;
import java.util.Map;
import java.util.TreeMap;
import org.apache.hadoop.conf.Configuration;

/**
 * The client configuration directory of the cluster (DIR/conf), as an administrator gives it to
 * the clients of a real cluster: core-site.xml, hdfs-site.xml, and with YARN yarn-site.xml and
 * mapred-site.xml, holding where the services are and how clients should talk to them, and
 * nothing of the servers' own (their directories, bind addresses, test switches). Beside them,
 * cluster.info: one "key=value" line a fact of the cluster, the control port's token among them,
 * so only the cluster's user may read it.
 */
final class ClientConfiguration {
  /**
   * The settings the mini clusters made for themselves that a client of them needs: where the
   * services are, how many replicas a file gets, how clients log in and whom they trust.
   */
  private static final String[] FOR_CLIENTS = {
    "hadoop.security.authentication", "hadoop.security.authorization", "hadoop.rpc.protection",
    "dfs.replication", "dfs.blocksize", "dfs.client.", "dfs.namenode.rpc-address",
    "dfs.namenode.http-address", "dfs.namenode.kerberos.principal",
    "dfs.datanode.kerberos.principal", "yarn.resourcemanager.address",
    "yarn.resourcemanager.scheduler.address", "yarn.resourcemanager.hostname",
    "yarn.resourcemanager.webapp.address", "yarn.app.mapreduce.am.staging-dir",
    "mapreduce.jobhistory.address", "mapreduce.jobhistory.webapp.address",
    "mapreduce.jobhistory.intermediate-done-dir", "mapreduce.jobhistory.done-dir",
  };

  private ClientConfiguration() {}

  static Path write(Path base, EmbeddedCluster cluster, Map<String, String> info)
      throws IOException {
    Path conf = Private.directory(base.resolve("conf"));
    Map<String, Map<String, String>> files = new TreeMap<>();
    for (String file : new String[] {"core-site", "hdfs-site", "yarn-site", "mapred-site"}) {
      files.put(file, new TreeMap<>());
    }
    Configuration made = cluster.madeConfiguration();
    for (Map.Entry<String, String> entry : made) {
      String[] sources = made.getPropertySources(entry.getKey());
      boolean set = sources != null && sources.length > 0 && sources[0].equals("programmatically");
      if (set && forClients(entry.getKey())) {
        files.get(fileOf(entry.getKey())).put(entry.getKey(), made.get(entry.getKey()));
      }
    }
    files.get("core-site").put("fs.defaultFS", cluster.uri());
    cluster.clientSettings(files);
    for (Map.Entry<String, Map<String, String>> file : files.entrySet()) {
      if (!file.getValue().isEmpty()) {
        Private.writeNew(conf.resolve(file.getKey() + ".xml"), xml(file.getValue()));
      }
    }
    info.put("fs", cluster.uri());
    info.put("conf", conf.toString());
    StringBuilder lines = new StringBuilder();
    info.forEach((key, value) -> lines.append(key).append('=').append(value).append('\n'));
    Private.writeNew(conf.resolve("cluster.info"), lines.toString());
    return conf;
  }

  private static boolean forClients(String key) {
    for (String wanted : FOR_CLIENTS) {
      if (wanted.endsWith(".") ? key.startsWith(wanted) : key.equals(wanted)) {
        return true;
      }
    }
    return false;
  }

  private static String fileOf(String key) {
    if (key.startsWith("yarn.app.mapreduce.") || key.startsWith("mapreduce.")
        || key.startsWith("mapred.")) {
      return "mapred-site";
    }
    if (key.startsWith("yarn.")) {
      return "yarn-site";
    }
    return key.startsWith("dfs.") ? "hdfs-site" : "core-site";
  }

  private static String xml(Map<String, String> properties) {
    StringBuilder xml = new StringBuilder("<?xml version=\"1.0\"?>\n<configuration>\n");
    for (Map.Entry<String, String> property : properties.entrySet()) {
      xml.append("  <property><name>")
          .append(escaped(property.getKey()))
          .append("</name><value>")
          .append(escaped(property.getValue()))
          .append("</value></property>\n");
    }
    return xml.append("</configuration>\n").toString();
  }

  private static String escaped(String text) {
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;");
  }
}
