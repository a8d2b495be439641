package qxhost.cluster;

import java.util.Map;
import java.util.concurrent.TimeoutException;
import org.apache.hadoop.hdfs.MiniDFSCluster;
import org.apache.hadoop.hdfs.MiniDFSNNTopology;
import org.apache.hadoop.hdfs.server.namenode.NameNode;

/**
 * With --ha the file system is two name nodes under one logical name (hdfs://qxcluster), the
 * first active, and the commands "failover" (the active one becomes standby, unless it is
 * stopped, and the other active), "stopnn N" and "startnn N" (back as a standby) act on them.
 */
final class HighAvailability {
  static final String NAMESERVICE = "qxcluster";
  static final String URI = "hdfs://" + NAMESERVICE;

  private HighAvailability() {}

  static void topology(MiniDFSCluster.Builder builder) {
    builder.nnTopology(new MiniDFSNNTopology().addNameservice(
        new MiniDFSNNTopology.NSConf(NAMESERVICE)
            .addNN(new MiniDFSNNTopology.NNConf("nn1"))
            .addNN(new MiniDFSNNTopology.NNConf("nn2"))));
  }

  /**
   * How a client reaches the two name nodes by their logical name: their addresses, the proxy
   * provider that fails over between them, and failover sleeps short enough that a stopped name
   * node is left for the other within seconds (the failover proxies' own connection retries,
   * dfs.client.failover.connection.retries, are none by default).
   */
  static void clientSettings(Map<String, String> hdfsSite, MiniDFSCluster cluster) {
    // One name node's own address is no client's business: they reach both by the name.
    hdfsSite.remove("dfs.namenode.rpc-address");
    hdfsSite.remove("dfs.namenode.http-address");
    hdfsSite.put("dfs.nameservices", NAMESERVICE);
    hdfsSite.put("dfs.ha.namenodes." + NAMESERVICE, "nn1,nn2");
    for (int i = 0; i < 2; i++) {
      hdfsSite.put(
          "dfs.namenode.rpc-address." + NAMESERVICE + ".nn" + (i + 1), address(cluster, i));
    }
    hdfsSite.put("dfs.client.failover.proxy.provider." + NAMESERVICE,
        "org.apache.hadoop.hdfs.server.namenode.ha.ConfiguredFailoverProxyProvider");
    hdfsSite.put("dfs.client.failover.sleep.base.millis", "100");
    hdfsSite.put("dfs.client.failover.sleep.max.millis", "2000");
    hdfsSite.put("dfs.client.failover.max.attempts", "30");
  }

  static String address(MiniDFSCluster cluster, int index) {
    return "127.0.0.1:" + cluster.getNameNodePort(index);
  }

  /**
   * The active name node becomes standby and the other active; with the active one stopped, the
   * one still running becomes active.
   */
  static String failover(MiniDFSCluster cluster) throws Exception {
    int active = -1;
    int next = -1;
    for (int i = 0; i < 2; i++) {
      NameNode node = cluster.getNameNode(i);
      if (node != null && node.isActiveState()) {
        active = i;
      } else if (node != null) {
        next = i;
      }
    }
    if (next < 0) {
      throw new IllegalStateException("no name node to become active");
    }
    if (active >= 0) {
      cluster.transitionToStandby(active);
    }
    cluster.transitionToActive(next);
    return "active " + next;
  }

  static String stopNameNode(MiniDFSCluster cluster, String[] words) {
    int index = EmbeddedCluster.index(words, 2, "name node");
    cluster.shutdownNameNode(index);
    return "stopped " + index;
  }

  /** Starts a stopped name node again (as a standby) and waits until it answers. */
  static String startNameNode(MiniDFSCluster cluster, String[] words) throws Exception {
    int index = EmbeddedCluster.index(words, 2, "name node");
    cluster.restartNameNode(index, false);
    long deadline = System.currentTimeMillis() + EmbeddedCluster.WAIT_MILLIS;
    while (cluster.getNameNode(index) == null
        || cluster.getNameNode(index).getNameNodeAddress() == null
        || !cluster.getNameNode(index).isStandbyState()) {
      if (System.currentTimeMillis() > deadline) {
        throw new TimeoutException("name node " + index + " did not come up");
      }
      Thread.sleep(100);
    }
    return "started " + index;
  }
}
