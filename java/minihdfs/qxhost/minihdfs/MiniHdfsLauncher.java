package qxhost.minihdfs;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.stream.Stream;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.hdfs.HdfsConfiguration;
import org.apache.hadoop.hdfs.MiniDFSCluster;

/**
 * Runs a real HDFS (Hadoop's MiniDFSCluster) on loopback for tests and demonstrations. Prints
 * "hdfs://127.0.0.1:PORT" once the cluster is active, then runs until a line "stop" or the end of
 * its standard input (its parent went away), shuts the cluster down and removes its directory.
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
      awaitStop();
    } finally {
      cluster.shutdown(true);
      removeTree(base);
    }
    System.exit(0);
  }

  private static void awaitStop() throws IOException {
    BufferedReader input =
        new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
    for (String line = input.readLine(); line != null; line = input.readLine()) {
      if (line.trim().equals("stop")) {
        return;
      }
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
