package qxhost.cluster;

import java.io.BufferedReader;
import java.io.File;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
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
import org.apache.hadoop.hdfs.HdfsConfiguration;

/**
 * The embedded cluster for tests, demonstrations and development, all on loopback: Hadoop's
 * MiniDFSCluster (Hdfs; with --ha two name nodes, HighAvailability; with --secure a Kerberos
 * realm of its own, SecureRealm) and, with --yarn, a MiniMRYarnCluster beside it (Yarn). It
 * writes the client configuration directory for the cluster it started (ClientConfiguration),
 * then prints the file system's URI on its standard output. It then takes commands, one per
 * line, until "stop" or the end of its input (its parent went away), shuts the cluster down and
 * removes its directory. Each command is answered with one line, "ok ..." or "error ...", and
 * waits only for what it changed, with a bound: "ports", "stopdn N", "restartdn N", "populate
 * DIR N" (Hdfs), "failover", "stopnn N", "startnn N" (HighAvailability), "stopnm N", "startnm N"
 * (Yarn).
 *
 * <p>Options: --datanodes N (3), --dir D (a new temporary directory), --yarn, --nodemanagers N
 * (2), --ha, --secure, --detached. A detached cluster reads no commands from its input: it takes
 * them on a loopback port instead (ControlPort). It runs until it is terminated (SIGTERM), then
 * shuts down and removes its directory the same way. Everything the cluster keeps on disk is its
 * user's alone, and only a directory that carries the marker file is ever removed.
 */
public final class EmbeddedCluster {
  static final String MARKER = ".qxdfs-cluster";
  static final long WAIT_MILLIS = 60_000;

  /** The answers to the parent; nothing the cluster prints reaches them (see main). */
  private static final PrintStream ANSWERS =
      new PrintStream(new FileOutputStream(FileDescriptor.out), true, StandardCharsets.UTF_8);

  private final Options options;
  private final Path base;
  private Hdfs hdfs;
  private Yarn yarn;
  private SecureRealm realm;
  private ControlPort control;
  private final ExecutorService worker = Executors.newSingleThreadExecutor(runnable -> {
    Thread thread = new Thread(runnable, "command");
    thread.setDaemon(true);
    return thread;
  });

  private EmbeddedCluster(Options options, Path base) {
    this.options = options;
    this.base = base;
  }

  public static void main(String[] args) throws Exception {
    System.setOut(System.err);
    Options options;
    Path base;
    try {
      options = Options.parse(args);
      base = options.createDirectory();
    } catch (IllegalArgumentException | IOException e) {
      refuse(e);
      return;
    }
    // What the mini clusters, their web servers and Hadoop's own temporary files keep on the
    // local disk stays in the cluster's directory, and goes with it.
    Path tmp = Private.directory(base.resolve("tmp"));
    System.setProperty("java.io.tmpdir", tmp.toString());
    System.setProperty("test.build.data", base.resolve("yarn").toString());
    EmbeddedCluster cluster = new EmbeddedCluster(options, base);
    Runtime.getRuntime().addShutdownHook(new Thread(cluster::shutDown));
    try {
      cluster.start(tmp);
    } catch (Exception | Error e) {
      e.printStackTrace();
      cluster.shutDown();
      refuse(e);
    }
    ANSWERS.println(cluster.uri());
    if (options.detached) {
      cluster.control.serve();
    } else {
      cluster.serveCommands();
    }
    cluster.shutDown();
    System.exit(0);
  }

  /** The one line the parent reads instead of the URI, and the end. */
  private static void refuse(Throwable why) {
    String message = why instanceof IllegalArgumentException ? why.getMessage() : why.toString();
    ANSWERS.println("error " + message.split("\n", 2)[0]);
    System.exit(2);
  }

  private void start(Path tmp) throws Exception {
    Configuration conf = new HdfsConfiguration();
    conf.set("hadoop.tmp.dir", tmp.toString());
    if (options.secure) {
      realm = new SecureRealm(base.resolve("kdc"), Private.directory(base.resolve("conf")));
      realm.secure(conf);
    }
    hdfs = Hdfs.start(conf, options, base);
    if (options.yarn) {
      yarn = Yarn.start(new Configuration(hdfs.cluster.getConfiguration(0)), uri(), options, base);
    }
    if (options.detached) {
      control = new ControlPort(this::answer);
    }
    ClientConfiguration.write(base, this, facts());
  }

  String uri() {
    return hdfs.uri();
  }

  /** The configuration the mini clusters made for themselves. */
  Configuration madeConfiguration() {
    return yarn != null ? yarn.configuration() : hdfs.cluster.getConfiguration(0);
  }

  /** What the modes add to the client configuration files, by file. */
  void clientSettings(Map<String, Map<String, String>> files) {
    if (options.ha) {
      HighAvailability.clientSettings(files.get("hdfs-site"), hdfs.cluster);
    }
    if (yarn != null) {
      yarn.clientSettings(files.get("mapred-site"), files.get("yarn-site"));
    }
  }

  /** The facts of cluster.info beside the file system and the configuration's place. */
  private Map<String, String> facts() {
    Map<String, String> info = new TreeMap<>();
    info.put("datanodes", String.valueOf(options.dataNodes));
    if (options.ha) {
      info.put("namenodes", HighAvailability.address(hdfs.cluster, 0) + ","
          + HighAvailability.address(hdfs.cluster, 1));
    }
    if (realm != null) {
      realm.describe(info, base.resolve("conf"));
    }
    if (control != null) {
      info.put("control", String.valueOf(control.port()));
      info.put("token", control.token());
    }
    if (yarn != null) {
      info.put("resourcemanager", yarn.resourceManager());
      info.put("nodemanagers", String.valueOf(options.nodeManagers));
    }
    return info;
  }

  /**
   * Ends what runs and removes the directory; each step goes on whatever the ones before it
   * threw (a shutdown on SIGTERM finds the JVM shutting down already).
   */
  private synchronized void shutDown() {
    worker.shutdownNow();
    Runnable[] steps = {
      () -> {
        if (control != null) control.close();
      },
      () -> {
        if (yarn != null) yarn.stop();
      },
      () -> {
        if (hdfs != null) hdfs.stop();
      },
      () -> {
        if (realm != null) realm.stop();
      },
    };
    for (Runnable step : steps) {
      try {
        step.run();
      } catch (RuntimeException | Error e) {
        System.err.println("shutting down: " + e);
      }
    }
    control = null;
    yarn = null;
    hdfs = null;
    realm = null;
    try {
      removeTree(base);
    } catch (IOException | RuntimeException e) {
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
        return hdfs.ports();
      case "stopdn":
        return hdfs.stopDataNode(words);
      case "restartdn":
        return hdfs.restartDataNode(words);
      case "populate":
        return hdfs.populate(words);
      case "failover":
        return HighAvailability.failover(highlyAvailable());
      case "stopnn":
        return HighAvailability.stopNameNode(highlyAvailable(), words);
      case "startnn":
        return HighAvailability.startNameNode(highlyAvailable(), words);
      case "stopnm":
        return withYarn().stopNodeManager(words);
      case "startnm":
        return withYarn().startNodeManager(words);
      default:
        throw new IllegalArgumentException("unknown command " + words[0]);
    }
  }

  /** The index a command names, within the count of what it names. */
  static int index(String[] words, int count, String what) {
    int index = words.length == 2 ? Integer.parseInt(words[1]) : -1;
    if (index < 0 || index >= count) {
      throw new IllegalArgumentException(
          "no " + what + " " + (words.length == 2 ? words[1] : "given") + " (0 to " + (count - 1)
              + ")");
    }
    return index;
  }

  private org.apache.hadoop.hdfs.MiniDFSCluster highlyAvailable() {
    if (!options.ha) {
      throw new IllegalStateException("the cluster has one name node (start it with --ha)");
    }
    return hdfs.cluster;
  }

  private Yarn withYarn() {
    if (yarn == null) {
      throw new IllegalStateException("the cluster runs no YARN (start it with --yarn)");
    }
    return yarn;
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
