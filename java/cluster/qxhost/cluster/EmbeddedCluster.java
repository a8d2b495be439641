package qxhost.cluster;

import java.io.BufferedReader;
import java.io.File;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.net.SocketTimeoutException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.security.SecureRandom;
import java.util.Arrays;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.stream.Stream;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.FileSystem;
import org.apache.hadoop.fs.permission.FsPermission;
import org.apache.hadoop.hdfs.HdfsConfiguration;
import org.apache.hadoop.hdfs.MiniDFSCluster;
import org.apache.hadoop.hdfs.MiniDFSNNTopology;
import org.apache.hadoop.hdfs.server.namenode.NameNode;
import org.apache.hadoop.hdfs.server.datanode.DataNode;
import org.apache.hadoop.hdfs.server.namenode.EditLogFileOutputStream;
import org.apache.hadoop.mapreduce.v2.MiniMRYarnCluster;
import org.apache.hadoop.yarn.conf.YarnConfiguration;
import org.apache.hadoop.yarn.server.nodemanager.NodeManager;

/**
 * The embedded cluster for tests, demonstrations and development, all on loopback: Hadoop's
 * MiniDFSCluster and, with --yarn, a MiniMRYarnCluster beside it (a ResourceManager, its
 * NodeManagers and the job history server). It writes a client configuration directory for the
 * cluster it started (DIR/conf: core-site.xml, hdfs-site.xml, and with YARN yarn-site.xml and
 * mapred-site.xml) and a line "key=value" a fact of it in DIR/conf/cluster.info, then prints the
 * file system's URI on its standard output. It then takes commands, one per line, until "stop"
 * or the end of its input (its parent went away), shuts the cluster down and removes its
 * directory. Each command is answered with one line, "ok ..." or "error ...", and waits only for
 * what it changed, with a bound:
 *
 * <ul>
 *   <li>"ports": the data transfer ports of the data nodes, in index order;
 *   <li>"stopdn N", "restartdn N": stops data node N; starts it again and waits until it is up;
 *   <li>"stopnm N", "startnm N": stops NodeManager N; starts a NodeManager in its place and
 *       waits until the ResourceManager counts it;
 *   <li>"populate DIR N": makes the entries e0 ... eN-1 in DIR, every tenth a directory and the
 *       others empty files.
 * </ul>
 *
 * <p>With --ha the file system is two name nodes under one logical name (hdfs://qxcluster), the
 * first active; the commands "failover" (the active one becomes standby, unless it is stopped,
 * and the other active), "stopnn N" and "startnn N" (back as a standby) act on them.
 *
 * <p>With --secure the cluster requires Kerberos: a KDC of its own (see SecureRealm), whose
 * krb5.conf and user keytabs go into the client configuration directory; cluster.info names them.
 *
 * <p>Options: --datanodes N (3), --dir D (a new temporary directory), --yarn, --nodemanagers N
 * (2), --ha, --secure, --detached. A detached cluster reads no commands from its input: it takes
 * them on a loopback port instead, one connection per command, each line starting with the
 * token that cluster.info gives beside the port ("control", "token"; only the cluster's owner may
 * read that file). It runs until it is terminated (SIGTERM), then shuts down and removes its
 * directory the same way. Only a directory that carries the marker file is ever removed.
 */
public final class EmbeddedCluster {
  private static final String MARKER = ".qxdfs-cluster";
  /** The logical name of the two name nodes of a highly available cluster. */
  private static final String NAMESERVICE = "qxcluster";
  private static final long WAIT_MILLIS = 60_000;
  /** What a container asks for: the memory of its JVM and the heap within it. */
  private static final int CONTAINER_MB = 512;
  private static final String CONTAINER_HEAP = "-Xmx400m";

  /** The answers to the parent; nothing the cluster prints reaches them (see main). */
  private static final PrintStream ANSWERS =
      new PrintStream(new FileOutputStream(FileDescriptor.out), true, StandardCharsets.UTF_8);

  private final Options options;
  private final Path base;
  private MiniDFSCluster hdfs;
  private MiniMRYarnCluster yarn;
  private SecureRealm realm;
  private ServerSocket control;
  private final String token = newToken();
  private final ExecutorService worker = Executors.newSingleThreadExecutor(runnable -> {
    Thread thread = new Thread(runnable, "command");
    thread.setDaemon(true);
    return thread;
  });
  private final Map<Integer, MiniDFSCluster.DataNodeProperties> stoppedDataNodes = new HashMap<>();
  private final Map<Integer, NodeManager> replacedNodeManagers = new HashMap<>();
  private int nodeManagersStarted;

  private EmbeddedCluster(Options options, Path base) {
    this.options = options;
    this.base = base;
  }

  public static void main(String[] args) throws Exception {
    System.setOut(System.err);
    Options options = Options.parse(args);
    Path base =
        options.directory != null
            ? Files.createDirectories(Path.of(options.directory))
            : Files.createTempDirectory("qxcluster");
    Files.writeString(base.resolve(MARKER), "an embedded cluster's data; removed with it\n");
    // What the mini clusters and their web servers keep on the local disk stays in the
    // cluster's directory, and goes with it.
    System.setProperty("java.io.tmpdir", Files.createDirectories(base.resolve("tmp")).toString());
    System.setProperty("test.build.data", base.resolve("yarn").toString());
    EmbeddedCluster cluster = new EmbeddedCluster(options, base);
    try {
      cluster.start();
    } catch (Exception | Error e) {
      cluster.shutDown();
      throw e;
    }
    if (options.detached) {
      Runtime.getRuntime().addShutdownHook(new Thread(cluster::shutDown));
      cluster.announce();
      cluster.serveControl();
    }
    try {
      cluster.announce();
      cluster.serveCommands();
    } finally {
      cluster.shutDown();
    }
    System.exit(0);
  }

  /** The command line: options and their values. */
  static final class Options {
    int dataNodes = 3;
    int nodeManagers = 2;
    String directory;
    boolean yarn;
    boolean ha;
    boolean secure;
    boolean detached;

    static Options parse(String[] args) {
      Options options = new Options();
      for (int i = 0; i < args.length; i++) {
        switch (args[i]) {
          case "--datanodes":
            options.dataNodes = Integer.parseInt(args[++i]);
            break;
          case "--nodemanagers":
            options.nodeManagers = Integer.parseInt(args[++i]);
            break;
          case "--dir":
            options.directory = args[++i];
            break;
          case "--yarn":
            options.yarn = true;
            break;
          case "--ha":
            options.ha = true;
            break;
          case "--secure":
            options.secure = true;
            break;
          case "--detached":
            options.detached = true;
            break;
          default:
            throw new IllegalArgumentException("unknown option " + args[i]);
        }
      }
      if (options.secure && options.yarn) {
        throw new IllegalArgumentException("--secure does not combine with --yarn");
      }
      return options;
    }
  }

  private void start() throws Exception {
    Configuration conf = new HdfsConfiguration();
    conf.set(MiniDFSCluster.HDFS_MINIDFS_BASEDIR, base.resolve("hdfs").toString());
    conf.set("dfs.namenode.rpc-bind-host", "127.0.0.1");
    // A cluster for tests and demonstrations: its edit log need not reach the disk before each
    // answer (as Hadoop's own tests run it).
    EditLogFileOutputStream.setShouldSkipFsyncForTesting(true);
    // A file closes once its data node has reported the last block, which on loopback comes
    // just after the writer's close: the client's first wait before it asks again, 400 ms by
    // default, was most of a small file's write. Its clients read it from the configuration.
    conf.setInt("dfs.client.block.write.locateFollowingBlock.initial.delay.ms", 20);
    if (options.secure) {
      realm = new SecureRealm(base.resolve("kdc"), Files.createDirectories(base.resolve("conf")));
      realm.secure(conf);
    }
    MiniDFSCluster.Builder builder =
        new MiniDFSCluster.Builder(conf, base.resolve("hdfs").toFile())
            .numDataNodes(options.dataNodes);
    if (options.ha) {
      builder.nnTopology(new MiniDFSNNTopology().addNameservice(
          new MiniDFSNNTopology.NSConf(NAMESERVICE)
              .addNN(new MiniDFSNNTopology.NNConf("nn1"))
              .addNN(new MiniDFSNNTopology.NNConf("nn2"))));
    }
    hdfs = builder.build();
    hdfs.waitActive();
    if (options.ha) {
      hdfs.transitionToActive(0);
    }
    if (options.secure) {
      makeHomes(hdfs.getFileSystem(0));
    }
    if (options.yarn) {
      startYarn(new Configuration(hdfs.getConfiguration(0)));
    }
    if (options.detached) {
      control = new ServerSocket(0, 8, InetAddress.getLoopbackAddress());
    }
    writeClientConfiguration();
  }

  private void startYarn(Configuration conf) throws Exception {
    conf.set("fs.defaultFS", uri());
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
    yarn = new MiniMRYarnCluster("qxcluster", options.nodeManagers);
    yarn.init(conf);
    yarn.start();
    nodeManagersStarted = options.nodeManagers;
    if (!yarn.waitForNodeManagersToConnect(WAIT_MILLIS)) {
      throw new IOException("the NodeManagers did not connect to the ResourceManager");
    }
  }

  /**
   * What a client needs of this cluster, by file as Hadoop's configuration classes read them:
   * the settings the mini clusters made for themselves (none of Hadoop's defaults), and for jobs
   * the class path and memory of their containers.
   */
  private void writeClientConfiguration() throws IOException {
    Path conf = Files.createDirectories(base.resolve("conf"));
    Map<String, Map<String, String>> files = new TreeMap<>();
    for (String file : new String[] {"core-site", "hdfs-site", "yarn-site", "mapred-site"}) {
      files.put(file, new TreeMap<>());
    }
    Configuration made = yarn != null ? yarn.getConfig() : hdfs.getConfiguration(0);
    for (Map.Entry<String, String> entry : made) {
      String[] sources = made.getPropertySources(entry.getKey());
      // A client that thinks it talks to a mini cluster hands its own class path to the
      // containers: the containers get theirs from the settings below instead.
      if (entry.getKey().equals(YarnConfiguration.IS_MINI_YARN_CLUSTER)
          || SecureRealm.serverOnly(entry.getKey())) {
        continue;
      }
      if (sources != null && sources.length > 0 && sources[0].equals("programmatically")) {
        files.get(fileOf(entry.getKey())).put(entry.getKey(), made.get(entry.getKey()));
      }
    }
    files.get("core-site").put("fs.defaultFS", uri());
    if (options.ha) {
      putFailoverSettings(files);
    }
    if (yarn != null) {
      Map<String, String> mapred = files.get("mapred-site");
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
      // Tasks and map outputs lost with a node are noticed within seconds, not minutes.
      mapred.put("mapreduce.task.timeout", "60000");
      mapred.put("mapreduce.reduce.shuffle.connect.timeout", "10000");
      mapred.put("mapreduce.reduce.shuffle.read.timeout", "10000");
      mapred.put("mapreduce.reduce.shuffle.retry-delay.max.ms", "2000");
      // The ApplicationMaster gives up on a stopped NodeManager's containers in seconds, not
      // three minutes (in yarn-site.xml: yarn-default.xml would override mapred-site.xml).
      Map<String, String> yarnSite = files.get("yarn-site");
      yarnSite.put("yarn.client.nodemanager-connect.max-wait-ms", "10000");
      yarnSite.put("yarn.client.nodemanager-connect.retry-interval-ms", "1000");
      files.get("yarn-site").put("yarn.application.classpath", containerClassPath());
    }
    for (Map.Entry<String, Map<String, String>> file : files.entrySet()) {
      if (!file.getValue().isEmpty()) {
        writeXml(conf.resolve(file.getKey() + ".xml"), file.getValue());
      }
    }
    Map<String, String> info = new TreeMap<>();
    info.put("fs", uri());
    info.put("conf", conf.toString());
    info.put("datanodes", String.valueOf(options.dataNodes));
    if (options.ha) {
      info.put("namenodes", nameNodeAddress(0) + "," + nameNodeAddress(1));
    }
    if (realm != null) {
      realm.describe(info, conf);
    }
    if (control != null) {
      info.put("control", String.valueOf(control.getLocalPort()));
      info.put("token", token);
    }
    if (yarn != null) {
      info.put("resourcemanager", yarn.getConfig().get(YarnConfiguration.RM_ADDRESS));
      info.put("nodemanagers", String.valueOf(options.nodeManagers));
    }
    StringBuilder lines = new StringBuilder();
    info.forEach((key, value) -> lines.append(key).append('=').append(value).append('\n'));
    Files.writeString(conf.resolve("cluster.info"), lines.toString());
  }

  /**
   * On a secured cluster the users have homes of their own (the root belongs to the service
   * principal) and /tmp is open to all, as on a production cluster.
   */
  private static void makeHomes(FileSystem fs) throws IOException {
    for (String user : SecureRealm.USERS) {
      org.apache.hadoop.fs.Path home = new org.apache.hadoop.fs.Path("/user/" + user);
      fs.mkdirs(home);
      fs.setOwner(home, user, user);
    }
    org.apache.hadoop.fs.Path tmp = new org.apache.hadoop.fs.Path("/tmp");
    fs.mkdirs(tmp);
    fs.setPermission(tmp, new FsPermission((short) 01777));
  }

  private static String newToken() {
    byte[] bytes = new byte[16];
    new SecureRandom().nextBytes(bytes);
    StringBuilder text = new StringBuilder();
    for (byte b : bytes) {
      text.append(String.format("%02x", b));
    }
    return text.toString();
  }

  /**
   * How a client reaches the two name nodes by their logical name: their addresses, the proxy
   * provider that fails over between them, and retries short enough that a stopped name node
   * is left for the other within seconds.
   */
  private void putFailoverSettings(Map<String, Map<String, String>> files) {
    Map<String, String> hdfsSite = files.get("hdfs-site");
    // A name node's own: which it is, and its address of ports chosen at start.
    for (String own : new String[] {"dfs.ha.namenode.id", "dfs.nameservice.id",
        "dfs.namenode.rpc-address", "dfs.namenode.http-address"}) {
      hdfsSite.remove(own);
    }
    hdfsSite.put("dfs.nameservices", NAMESERVICE);
    hdfsSite.put("dfs.ha.namenodes." + NAMESERVICE, "nn1,nn2");
    for (int i = 0; i < 2; i++) {
      hdfsSite.put("dfs.namenode.rpc-address." + NAMESERVICE + ".nn" + (i + 1), nameNodeAddress(i));
    }
    hdfsSite.put("dfs.client.failover.proxy.provider." + NAMESERVICE,
        "org.apache.hadoop.hdfs.server.namenode.ha.ConfiguredFailoverProxyProvider");
    hdfsSite.put("dfs.client.failover.sleep.base.millis", "100");
    hdfsSite.put("dfs.client.failover.sleep.max.millis", "2000");
    hdfsSite.put("dfs.client.failover.max.attempts", "30");
    Map<String, String> coreSite = files.get("core-site");
    coreSite.put("ipc.client.connect.max.retries", "1");
    coreSite.put("ipc.client.connect.retry.interval", "200");
  }

  private String nameNodeAddress(int index) {
    return "127.0.0.1:" + hdfs.getNameNodePort(index);
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

  private static void writeXml(Path file, Map<String, String> properties) throws IOException {
    StringBuilder xml = new StringBuilder("<?xml version=\"1.0\"?>\n<configuration>\n");
    for (Map.Entry<String, String> property : properties.entrySet()) {
      xml.append("  <property><name>")
          .append(escaped(property.getKey()))
          .append("</name><value>")
          .append(escaped(property.getValue()))
          .append("</value></property>\n");
    }
    Files.writeString(file, xml.append("</configuration>\n").toString());
  }

  private static String escaped(String text) {
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;");
  }

  /** The file system's URI: the name node's loopback address, or the two's logical name. */
  private String uri() {
    return options.ha ? "hdfs://" + NAMESERVICE : "hdfs://127.0.0.1:" + hdfs.getNameNodePort();
  }

  private void announce() {
    ANSWERS.println(uri());
  }

  private synchronized void shutDown() {
    worker.shutdownNow();
    if (yarn != null) {
      replacedNodeManagers.values().forEach(NodeManager::stop);
      yarn.stop();
      yarn = null;
    }
    if (hdfs != null) {
      hdfs.shutdown(true);
      hdfs = null;
    }
    if (realm != null) {
      realm.stop();
      realm = null;
    }
    try {
      removeTree(base);
    } catch (IOException e) {
      System.err.println("could not remove " + base + ": " + e);
    }
  }

  private void serveCommands() throws IOException {
    BufferedReader input =
        new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
    for (String line = input.readLine(); line != null; line = input.readLine()) {
      String[] words = line.trim().split("\\s+");
      if (words[0].equals("stop")) {
        break;
      }
      ANSWERS.println(answer(words));
    }
  }

  /** A detached cluster's commands: one line in and one answer out per connection. */
  private void serveControl() throws IOException {
    while (true) {
      try (Socket client = control.accept()) {
        client.setSoTimeout(10_000);
        BufferedReader input = new BufferedReader(
            new InputStreamReader(client.getInputStream(), StandardCharsets.UTF_8));
        PrintStream output = new PrintStream(client.getOutputStream(), true, StandardCharsets.UTF_8);
        String line = input.readLine();
        String[] words = line == null ? new String[0] : line.trim().split("\\s+");
        if (words.length < 2 || !MessageDigest.isEqual(words[0].getBytes(StandardCharsets.UTF_8),
            token.getBytes(StandardCharsets.UTF_8))) {
          output.println("error not this cluster's token");
          continue;
        }
        output.println(answer(Arrays.copyOfRange(words, 1, words.length)));
      } catch (SocketTimeoutException e) {
        // a client that sent no line is let go
      }
    }
  }

  /** Runs a command, waiting at most twice the usual bound: "ok ..." or "error ...". */
  private String answer(String[] words) {
    Future<String> answer = worker.submit(() -> run(words));
    try {
      return "ok " + answer.get(2 * WAIT_MILLIS, TimeUnit.MILLISECONDS);
    } catch (TimeoutException e) {
      return "error " + words[0] + " did not finish within " + 2 * WAIT_MILLIS / 1000 + " s";
    } catch (ExecutionException e) {
      return "error " + e.getCause();
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
      return "error interrupted";
    }
  }

  private String run(String[] words) throws Exception {
    switch (words[0]) {
      case "ports":
        StringBuilder ports = new StringBuilder();
        for (DataNode node : hdfs.getDataNodes()) {
          ports.append(ports.length() == 0 ? "" : " ").append(node.getXferPort());
        }
        return ports.toString();
      case "stopdn":
        int index = index(words, options.dataNodes, "data node");
        stoppedDataNodes.put(index, hdfs.stopDataNode(index));
        return "stopped " + index;
      case "restartdn":
        return restartDataNode(index(words, options.dataNodes, "data node"));
      case "failover":
        return failover();
      case "stopnn":
        requireHa();
        int stopped = index(words, 2, "name node");
        hdfs.shutdownNameNode(stopped);
        return "stopped " + stopped;
      case "startnn":
        requireHa();
        return startNameNode(index(words, 2, "name node"));
      case "stopnm":
        requireYarn();
        return stopNodeManager(index(words, options.nodeManagers, "NodeManager"));
      case "startnm":
        requireYarn();
        return startNodeManager(index(words, options.nodeManagers, "NodeManager"));
      case "populate":
        return "made "
            + populate(hdfs.getFileSystem(), new org.apache.hadoop.fs.Path(words[1]),
                Integer.parseInt(words[2]));
      default:
        throw new IllegalArgumentException("unknown command " + words[0]);
    }
  }

  /** The index a command names, within the count of what it names. */
  private static int index(String[] words, int count, String what) {
    int index = words.length == 2 ? Integer.parseInt(words[1]) : -1;
    if (index < 0 || index >= count) {
      throw new IllegalArgumentException(
          "no " + what + " " + (words.length == 2 ? words[1] : "given") + " (0 to " + (count - 1)
              + ")");
    }
    return index;
  }

  /** Starts a stopped data node again and waits for it alone: the others may be down. */
  private String restartDataNode(int index) throws Exception {
    MiniDFSCluster.DataNodeProperties properties = stoppedDataNodes.remove(index);
    if (properties == null) {
      throw new IllegalArgumentException("data node " + index + " was not stopped");
    }
    hdfs.restartDataNode(properties, true);
    DataNode restarted = hdfs.getDataNodes().get(hdfs.getDataNodes().size() - 1);
    hdfs.waitDatanodeFullyStarted(restarted, (int) WAIT_MILLIS);
    return "restarted " + index;
  }

  /**
   * The active name node becomes standby and the other active; with the active one stopped, the
   * one still running becomes active.
   */
  private String failover() throws Exception {
    requireHa();
    int active = -1;
    int next = -1;
    for (int i = 0; i < 2; i++) {
      NameNode node = hdfs.getNameNode(i);
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
      hdfs.transitionToStandby(active);
    }
    hdfs.transitionToActive(next);
    return "active " + next;
  }

  /** Starts a stopped name node again (as a standby) and waits until it answers. */
  private String startNameNode(int index) throws Exception {
    hdfs.restartNameNode(index, false);
    long deadline = System.currentTimeMillis() + WAIT_MILLIS;
    while (hdfs.getNameNode(index) == null || hdfs.getNameNode(index).getNameNodeAddress() == null
        || !hdfs.getNameNode(index).isStandbyState()) {
      if (System.currentTimeMillis() > deadline) {
        throw new TimeoutException("name node " + index + " did not come up");
      }
      Thread.sleep(100);
    }
    return "started " + index;
  }

  private void requireHa() {
    if (!options.ha) {
      throw new IllegalStateException("the cluster has one name node (start it with --ha)");
    }
  }

  private NodeManager nodeManager(int index) {
    NodeManager replaced = replacedNodeManagers.get(index);
    return replaced != null ? replaced : yarn.getNodeManager(index);
  }

  private String stopNodeManager(int index) {
    NodeManager manager = nodeManager(index);
    manager.stop();
    return "stopped " + index;
  }

  /** A NodeManager in the place of a stopped one: a new node to the ResourceManager. */
  private String startNodeManager(int index) throws Exception {
    if (!nodeManager(index).isInState(org.apache.hadoop.service.Service.STATE.STOPPED)) {
      throw new IllegalArgumentException("NodeManager " + index + " was not stopped");
    }
    YarnConfiguration conf = new YarnConfiguration(yarn.getConfig());
    Path dirs = Files.createDirectories(base.resolve("nm-" + index + "-" + nodeManagersStarted));
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
    long deadline = System.currentTimeMillis() + WAIT_MILLIS;
    while (activeNodes() < runningNodeManagers()) {
      if (System.currentTimeMillis() > deadline) {
        throw new TimeoutException("NodeManager " + index + " did not register");
      }
      Thread.sleep(100);
    }
    return "started " + index;
  }

  private int activeNodes() {
    return yarn.getResourceManager().getRMContext().getRMNodes().values().stream()
        .mapToInt(node -> node.getState().isUnusable() ? 0 : 1)
        .sum();
  }

  private int runningNodeManagers() {
    int running = 0;
    for (int i = 0; i < options.nodeManagers; i++) {
      if (nodeManager(i).isInState(org.apache.hadoop.service.Service.STATE.STARTED)) {
        running++;
      }
    }
    return running;
  }

  private void requireYarn() {
    if (yarn == null) {
      throw new IllegalStateException("the cluster runs no YARN (start it with --yarn)");
    }
  }

  /** Entries e0 ... eN-1 of a directory: every tenth a directory, the others empty files. */
  private static int populate(FileSystem fs, org.apache.hadoop.fs.Path directory, int count)
      throws IOException {
    ExecutorService workers = Executors.newFixedThreadPool(8);
    List<Future<?>> made = new ArrayList<>();
    for (int i = 0; i < count; i++) {
      org.apache.hadoop.fs.Path entry = new org.apache.hadoop.fs.Path(directory, "e" + i);
      boolean isDirectory = i % 10 == 0;
      made.add(workers.submit(() -> {
        if (isDirectory) {
          fs.mkdirs(entry);
        } else {
          fs.create(entry).close();
        }
        return null;
      }));
    }
    try {
      for (Future<?> entry : made) {
        entry.get();
      }
    } catch (InterruptedException | ExecutionException e) {
      throw new IOException(e);
    } finally {
      workers.shutdown();
    }
    return count;
  }

  /** Only a directory that carries the marker is ever removed. */
  private static void removeTree(Path root) throws IOException {
    if (!Files.exists(root.resolve(MARKER))) {
      return;
    }
    try (Stream<Path> paths = Files.walk(root)) {
      paths.sorted(Comparator.reverseOrder()).map(Path::toFile).forEach(File::delete);
    }
  }
}
