package qxhost.minihdfs;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.stream.Stream;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.FileSystem;
import org.apache.hadoop.fs.Path;
import org.apache.hadoop.hdfs.HdfsConfiguration;
import org.apache.hadoop.hdfs.MiniDFSCluster;
import org.apache.hadoop.hdfs.server.datanode.DataNode;
import org.apache.hadoop.hdfs.server.namenode.EditLogFileOutputStream;

/**
 * Runs a real HDFS (Hadoop's MiniDFSCluster) on loopback for tests and demonstrations. Prints
 * "hdfs://127.0.0.1:PORT" once the cluster is active, then takes commands, one per line, until
 * "stop" or the end of its standard input (its parent went away), shuts the cluster down and
 * removes its directory. Each command is answered with one line, "ok ..." or "error ...":
 *
 * <ul>
 *   <li>"ports": the data transfer ports of the data nodes, in index order;
 *   <li>"stopdn N": stops data node N;
 *   <li>"restartdn N": starts data node N again and waits until the cluster is active;
 *   <li>"populate DIR N": makes the entries e0 ... eN-1 in DIR, every tenth a directory and the
 *       others empty files (tests that need many entries).
 * </ul>
 *
 * <p>Arguments: [data nodes, default 3] [base directory, default a new temporary one]
 * ["detached"]. A detached cluster reads no commands: it runs until it is terminated (SIGTERM),
 * then shuts down and removes its directory the same way.
 */
public final class MiniHdfsLauncher {
  private MiniHdfsLauncher() {}

  public static void main(String[] args) throws Exception {
    int dataNodes = args.length > 0 ? Integer.parseInt(args[0]) : 3;
    java.nio.file.Path base =
        args.length > 1
            ? Files.createDirectories(java.nio.file.Path.of(args[1]))
            : Files.createTempDirectory("qxminihdfs");
    Files.writeString(base.resolve(MARKER), "an embedded cluster's data; removed with it\n");
    Configuration conf = new HdfsConfiguration();
    conf.set(MiniDFSCluster.HDFS_MINIDFS_BASEDIR, base.toString());
    conf.set("dfs.namenode.rpc-bind-host", "127.0.0.1");
    // A cluster for tests and demonstrations: its edit log need not reach the disk before each
    // answer (as Hadoop's own tests run it).
    EditLogFileOutputStream.setShouldSkipFsyncForTesting(true);
    MiniDFSCluster cluster =
        new MiniDFSCluster.Builder(conf, base.toFile()).numDataNodes(dataNodes).build();
    if (args.length > 2 && args[2].equals("detached")) {
      Runtime.getRuntime().addShutdownHook(new Thread(() -> shutDown(cluster, base)));
      announce(cluster);
      Thread.currentThread().join();
    }
    try {
      announce(cluster);
      serveCommands(cluster);
    } finally {
      shutDown(cluster, base);
    }
    System.exit(0);
  }

  private static void announce(MiniDFSCluster cluster) throws IOException {
    cluster.waitActive();
    System.out.println("hdfs://127.0.0.1:" + cluster.getNameNodePort());
    System.out.flush();
  }

  private static void shutDown(MiniDFSCluster cluster, java.nio.file.Path base) {
    cluster.shutdown(true);
    try {
      removeTree(base);
    } catch (IOException e) {
      System.err.println("could not remove " + base + ": " + e);
    }
  }

  private static void serveCommands(MiniDFSCluster cluster) throws IOException {
    BufferedReader input =
        new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
    Map<Integer, MiniDFSCluster.DataNodeProperties> stopped = new HashMap<>();
    for (String line = input.readLine(); line != null; line = input.readLine()) {
      String[] words = line.trim().split("\\s+");
      if (words[0].equals("stop")) {
        return;
      }
      try {
        System.out.println("ok " + run(cluster, stopped, words));
      } catch (Exception e) {
        System.out.println("error " + e);
      }
      System.out.flush();
    }
  }

  private static String run(
      MiniDFSCluster cluster, Map<Integer, MiniDFSCluster.DataNodeProperties> stopped,
      String[] words)
      throws IOException {
    switch (words[0]) {
      case "ports":
        StringBuilder ports = new StringBuilder();
        for (DataNode node : cluster.getDataNodes()) {
          ports.append(ports.length() == 0 ? "" : " ").append(node.getXferPort());
        }
        return ports.toString();
      case "stopdn":
        int index = Integer.parseInt(words[1]);
        stopped.put(index, cluster.stopDataNode(index));
        return "stopped " + index;
      case "restartdn":
        int again = Integer.parseInt(words[1]);
        MiniDFSCluster.DataNodeProperties properties = stopped.remove(again);
        if (properties == null) {
          throw new IllegalArgumentException("data node " + again + " was not stopped");
        }
        cluster.restartDataNode(properties, true);
        cluster.waitActive();
        return "restarted " + again;
      case "populate":
        return "made " + populate(cluster.getFileSystem(), new Path(words[1]),
            Integer.parseInt(words[2]));
      default:
        throw new IllegalArgumentException("unknown command " + words[0]);
    }
  }

  /** Entries e0 ... eN-1 of a directory: every tenth a directory, the others empty files. */
  private static int populate(FileSystem fs, Path directory, int count) throws IOException {
    ExecutorService workers = Executors.newFixedThreadPool(8);
    List<Future<?>> made = new ArrayList<>();
    for (int i = 0; i < count; i++) {
      Path entry = new Path(directory, "e" + i);
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

  /** Only a directory that carries this marker is ever removed. */
  private static final String MARKER = ".qxdfs-cluster";

  private static void removeTree(java.nio.file.Path root) throws IOException {
    if (!Files.exists(root.resolve(MARKER))) {
      return;
    }
    try (Stream<java.nio.file.Path> paths = Files.walk(root)) {
      paths.sorted(Comparator.reverseOrder()).map(java.nio.file.Path::toFile).forEach(File::delete);
    }
  }
}
