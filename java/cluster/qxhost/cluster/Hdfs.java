package qxhost.cluster;

import java.io.IOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.FileSystem;
import org.apache.hadoop.fs.permission.FsPermission;
import org.apache.hadoop.hdfs.MiniDFSCluster;
import org.apache.hadoop.hdfs.server.datanode.DataNode;
import org.apache.hadoop.hdfs.server.namenode.EditLogFileOutputStream;

/**
 * The file system: Hadoop's MiniDFSCluster on loopback, its data in the cluster's directory,
 * and the commands on its data nodes ("ports", "stopdn N", "restartdn N", "populate DIR N").
 * With --ha its two name nodes are HighAvailability's.
 */
final class Hdfs {
  final MiniDFSCluster cluster;
  private final Options options;
  private final Map<Integer, MiniDFSCluster.DataNodeProperties> stoppedDataNodes = new HashMap<>();

  private Hdfs(MiniDFSCluster cluster, Options options) {
    this.cluster = cluster;
    this.options = options;
  }

  static Hdfs start(Configuration conf, Options options, Path base) throws Exception {
    conf.set(MiniDFSCluster.HDFS_MINIDFS_BASEDIR, base.resolve("hdfs").toString());
    conf.set("dfs.namenode.rpc-bind-host", "127.0.0.1");
    // A cluster for tests and demonstrations: its edit log need not reach the disk before each
    // answer (as Hadoop's own tests run it).
    EditLogFileOutputStream.setShouldSkipFsyncForTesting(true);
    // A file closes once its data node has reported the last block, which on loopback comes
    // just after the writer's close: the client's first wait before it asks again, 400 ms by
    // default, was most of a small file's write. Its clients read it from the configuration.
    conf.setInt("dfs.client.block.write.locateFollowingBlock.initial.delay.ms", 20);
    MiniDFSCluster.Builder builder =
        new MiniDFSCluster.Builder(conf, base.resolve("hdfs").toFile())
            .numDataNodes(options.dataNodes);
    if (options.ha) {
      HighAvailability.topology(builder);
    }
    MiniDFSCluster cluster = builder.build();
    cluster.waitActive();
    if (options.ha) {
      cluster.transitionToActive(0);
    }
    if (options.secure) {
      makeHomes(cluster.getFileSystem(0));
    }
    return new Hdfs(cluster, options);
  }

  /** The file system's URI: the name node's loopback address, or the two's logical name. */
  String uri() {
    return options.ha ? HighAvailability.URI : "hdfs://127.0.0.1:" + cluster.getNameNodePort();
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

  String ports() {
    StringBuilder ports = new StringBuilder();
    for (DataNode node : cluster.getDataNodes()) {
      ports.append(ports.length() == 0 ? "" : " ").append(node.getXferPort());
    }
    return ports.toString();
  }

  String stopDataNode(String[] words) {
    int index = EmbeddedCluster.index(words, options.dataNodes, "data node");
    stoppedDataNodes.put(index, cluster.stopDataNode(index));
    return "stopped " + index;
  }

  /** Starts a stopped data node again and waits for it alone: the others may be down. */
  String restartDataNode(String[] words) throws Exception {
    int index = EmbeddedCluster.index(words, options.dataNodes, "data node");
    MiniDFSCluster.DataNodeProperties properties = stoppedDataNodes.remove(index);
    if (properties == null) {
      throw new IllegalArgumentException("data node " + index + " was not stopped");
    }
    cluster.restartDataNode(properties, true);
    DataNode restarted = cluster.getDataNodes().get(cluster.getDataNodes().size() - 1);
    cluster.waitDatanodeFullyStarted(restarted, (int) EmbeddedCluster.WAIT_MILLIS);
    return "restarted " + index;
  }

  /** Entries e0 ... eN-1 of a directory: every tenth a directory, the others empty files. */
  String populate(String[] words) throws IOException {
    if (words.length != 3) {
      throw new IllegalArgumentException("populate takes a directory and a count");
    }
    FileSystem fs = cluster.getFileSystem();
    org.apache.hadoop.fs.Path directory = new org.apache.hadoop.fs.Path(words[1]);
    int count = Integer.parseInt(words[2]);
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
    return "made " + count;
  }

  void stop() {
    cluster.shutdown(true);
  }
}
