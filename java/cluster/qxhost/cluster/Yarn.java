package qxhost.cluster;

import java.io.File;
import java.io.IOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeoutException;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.mapreduce.v2.MiniMRYarnCluster;
import org.apache.hadoop.service.Service;
import org.apache.hadoop.yarn.conf.YarnConfiguration;
import org.apache.hadoop.yarn.server.nodemanager.NodeManager;

/**
 * With --yarn: a MiniMRYarnCluster beside the file system (a ResourceManager, its NodeManagers
 * and the job history server), and the commands "stopnm N" and "startnm N" (a NodeManager in
 * the stopped one's place, which the ResourceManager counts as a new node).
 */
final class Yarn {
  /** What a container asks for: the memory of its JVM and the heap within it. */
  private static final int CONTAINER_MB = 512;
  private static final String CONTAINER_HEAP = "-Xmx400m";

  final MiniMRYarnCluster cluster;
  private final Options options;
  private final Path base;
  private final Map<Integer, NodeManager> replacedNodeManagers = new HashMap<>();
  private int nodeManagersStarted;

  private Yarn(MiniMRYarnCluster cluster, Options options, Path base) {
    this.cluster = cluster;
    this.options = options;
    this.base = base;
    nodeManagersStarted = options.nodeManagers;
  }

  static Yarn start(Configuration conf, String fileSystem, Options options, Path base)
      throws Exception {
    conf.set("fs.defaultFS", fileSystem);
    conf.set(YarnConfiguration.RM_HOSTNAME, "localhost");
    // A stopped NodeManager, or an ApplicationMaster on it, is given up soon, so that what ran
    // there runs elsewhere.
    conf.setLong(YarnConfiguration.RM_NM_EXPIRY_INTERVAL_MS, 10_000);
    conf.setLong(YarnConfiguration.RM_AM_EXPIRY_INTERVAL_MS, 15_000);
    conf.setLong(YarnConfiguration.RM_NM_HEARTBEAT_INTERVAL_MS, 500);
    conf.setInt(YarnConfiguration.NM_PMEM_MB, 4096);
    conf.setInt(YarnConfiguration.RM_SCHEDULER_MINIMUM_ALLOCATION_MB, 256);
    conf.setBoolean(YarnConfiguration.NM_VMEM_CHECK_ENABLED, false);
    // A NodeManager that stops waits this long for its applications' containers.
    conf.setLong(YarnConfiguration.NM_SLEEP_DELAY_BEFORE_SIGKILL_MS, 100);
    conf.setLong(YarnConfiguration.NM_PROCESS_KILL_WAIT_MS, 500);
    MiniMRYarnCluster cluster = new MiniMRYarnCluster("qxcluster", options.nodeManagers);
    cluster.init(conf);
    cluster.start();
    Yarn yarn = new Yarn(cluster, options, base);
    if (!cluster.waitForNodeManagersToConnect(EmbeddedCluster.WAIT_MILLIS)) {
      yarn.stop();
      throw new IOException("the NodeManagers did not connect to the ResourceManager");
    }
    return yarn;
  }

  Configuration configuration() {
    return cluster.getConfig();
  }

  String resourceManager() {
    return cluster.getConfig().get(YarnConfiguration.RM_ADDRESS);
  }

  /**
   * What a client's jobs need beside the addresses: the containers' class path and memory, and
   * waits short enough that a lost node, task or cluster is noticed within seconds.
   */
  void clientSettings(Map<String, String> mapred, Map<String, String> yarnSite) {
    mapred.put("mapreduce.framework.name", "yarn");
    mapred.put("mapreduce.application.classpath", containerClassPath());
    mapred.put("mapreduce.jvm.add-opens-as-default", "true");
    mapred.put("yarn.app.mapreduce.am.resource.mb", String.valueOf(CONTAINER_MB));
    mapred.put("yarn.app.mapreduce.am.command-opts", CONTAINER_HEAP);
    for (String task : new String[] {"map", "reduce"}) {
      mapred.put("mapreduce." + task + ".memory.mb", String.valueOf(CONTAINER_MB));
      mapred.put("mapreduce." + task + ".java.opts", CONTAINER_HEAP);
      mapred.put("mapreduce." + task + ".speculative", "false");
    }
    mapred.put("mapreduce.task.timeout", "60000");
    mapred.put("mapreduce.reduce.shuffle.connect.timeout", "10000");
    mapred.put("mapreduce.reduce.shuffle.read.timeout", "10000");
    mapred.put("mapreduce.reduce.shuffle.retry-delay.max.ms", "2000");
    // The ApplicationMaster gives up on a stopped NodeManager's containers in seconds, not
    // three minutes, and a client (or the ApplicationMaster itself) on a ResourceManager that
    // went away within half a minute, not fifteen minutes: ten tries a second apart, each of at
    // most two connects (in yarn-site.xml, which only YARN's clients read: yarn-default.xml
    // would override mapred-site.xml, and the file system's clients keep their own retries).
    yarnSite.put("yarn.client.nodemanager-connect.max-wait-ms", "10000");
    yarnSite.put("yarn.client.nodemanager-connect.retry-interval-ms", "1000");
    yarnSite.put("yarn.resourcemanager.connect.max-wait.ms", "10000");
    yarnSite.put("yarn.resourcemanager.connect.retry-interval.ms", "1000");
    yarnSite.put("ipc.client.connect.max.retries", "1");
    yarnSite.put("yarn.application.classpath", containerClassPath());
  }

  /** The containers' class path: this JVM's own jars, absolute (all on this machine). */
  private static String containerClassPath() {
    List<String> jars = new ArrayList<>();
    for (String item : System.getProperty("java.class.path").split(File.pathSeparator)) {
      if (item.endsWith("*")) {
        File[] found = new File(item.substring(0, item.length() - 1)).listFiles();
        for (File jar : found == null ? new File[0] : found) {
          if (jar.getName().endsWith(".jar")) {
            jars.add(jar.getAbsolutePath());
          }
        }
      } else if (!item.isEmpty()) {
        jars.add(new File(item).getAbsolutePath());
      }
    }
    return String.join(",", jars);
  }

  private NodeManager nodeManager(int index) {
    NodeManager replaced = replacedNodeManagers.get(index);
    return replaced != null ? replaced : cluster.getNodeManager(index);
  }

  String stopNodeManager(String[] words) {
    int index = EmbeddedCluster.index(words, options.nodeManagers, "NodeManager");
    nodeManager(index).stop();
    return "stopped " + index;
  }

  /** A NodeManager in the place of a stopped one: a new node to the ResourceManager. */
  String startNodeManager(String[] words) throws Exception {
    int index = EmbeddedCluster.index(words, options.nodeManagers, "NodeManager");
    if (!nodeManager(index).isInState(Service.STATE.STOPPED)) {
      throw new IllegalArgumentException("NodeManager " + index + " was not stopped");
    }
    YarnConfiguration conf = new YarnConfiguration(cluster.getConfig());
    Path dirs = Private.directory(base.resolve("nm-" + index + "-" + nodeManagersStarted));
    conf.set(YarnConfiguration.NM_LOCAL_DIRS, dirs.resolve("local").toString());
    conf.set(YarnConfiguration.NM_LOG_DIRS, dirs.resolve("logs").toString());
    for (String address : new String[] {YarnConfiguration.NM_ADDRESS,
        YarnConfiguration.NM_LOCALIZER_ADDRESS, YarnConfiguration.NM_WEBAPP_ADDRESS,
        YarnConfiguration.NM_COLLECTOR_SERVICE_ADDRESS}) {
      conf.set(address, "localhost:0");
    }
    NodeManager manager = new NodeManager();
    manager.init(conf);
    manager.start();
    replacedNodeManagers.put(index, manager);
    nodeManagersStarted++;
    long deadline = System.currentTimeMillis() + EmbeddedCluster.WAIT_MILLIS;
    while (activeNodes() < runningNodeManagers()) {
      if (System.currentTimeMillis() > deadline) {
        throw new TimeoutException("NodeManager " + index + " did not register");
      }
      Thread.sleep(100);
    }
    return "started " + index;
  }

  private int activeNodes() {
    return cluster.getResourceManager().getRMContext().getRMNodes().values().stream()
        .mapToInt(node -> node.getState().isUnusable() ? 0 : 1)
        .sum();
  }

  private int runningNodeManagers() {
    int running = 0;
    for (int i = 0; i < options.nodeManagers; i++) {
      if (nodeManager(i).isInState(Service.STATE.STARTED)) {
        running++;
      }
    }
    return running;
  }

  void stop() {
    replacedNodeManagers.values().forEach(NodeManager::stop);
    cluster.stop();
  }
}
