package qxhost.minihdfs;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.HashMap;
import java.util.Map;
import java.util.stream.Stream;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.hdfs.HdfsConfiguration;
import org.apache.hadoop.hdfs.MiniDFSCluster;
import org.apache.hadoop.hdfs.server.datanode.DataNode;

/**
 * Runs a real HDFS (Hadoop's MiniDFSCluster) on loopback for tests and demonstrations. Prints
 * "hdfs://127.0.0.1:PORT" once the cluster is active, then takes commands, one per line, until
 * "stop" or the end of its standard input (its parent went away), shuts the cluster down and
 * removes its directory. Each command is answered with one line, "ok ..." or "error ...":
 *
 * <ul>
 *   <li>"ports": the data transfer ports of the data nodes, in index order;
 *   <li>"stopdn N": stops data node N;
 *   <li>"restartdn N": starts data node N again and waits until the cluster is active.
 * </ul>
 *
 * <p>Arguments: [data nodes, default 3] [base directory, default a new temporary one].
 */
public final class MiniHdfsLauncher {
  private MiniHdfsLauncher() {}

  public static void main(String[] args) throws Exception {
    int dataNodes = args.length > 0 ? Integer.parseInt(args[0]) : 3;
    Path base =
        args.length > 1
            ? Files.createDirectories(Path.of(args[1]))
            : Files.createTempDirectory("qxminihdfs");
    Configuration conf = new HdfsConfiguration();
    conf.set(MiniDFSCluster.HDFS_MINIDFS_BASEDIR, base.toString());
    conf.set("dfs.namenode.rpc-bind-host", "127.0.0.1");
    MiniDFSCluster cluster =
        new MiniDFSCluster.Builder(conf, base.toFile()).numDataNodes(dataNodes).build();
    try {
      cluster.waitActive();
      System.out.println("hdfs://127.0.0.1:" + cluster.getNameNodePort());
      System.out.flush();
      serveCommands(cluster);
    } finally {
      cluster.shutdown(true);
      removeTree(base);
    }
    System.exit(0);
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
      default:
        throw new IllegalArgumentException("unknown command " + words[0]);
    }
  }

  private static void removeTree(Path root) throws IOException {
    if (!Files.exists(root)) {
      return;
    }
    try (Stream<Path> paths = Files.walk(root)) {
      paths.sorted(Comparator.reverseOrder()).map(Path::toFile).forEach(File::delete);
    }
  }
}
