package qxbench;

import java.io.IOException;
import java.net.URI;
import java.nio.ByteBuffer;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.FSDataInputStream;
import org.apache.hadoop.fs.FSDataOutputStream;
import org.apache.hadoop.fs.FileSystem;
import org.apache.hadoop.fs.Path;

/**
 * The pure-Java side of the side-by-side benchmark: the same work dfslink does, done by Hadoop's
 * client in Java, on the same FileSystem object and files.
 */
public final class JavaSide {
  private JavaSide() {}

  /** Reads a stream to its end in chunks of the array's size; the bytes read. */
  public static long read(FSDataInputStream in, byte[] buffer) throws IOException {
    long total = 0;
    for (int n; (n = in.read(buffer, 0, buffer.length)) > 0; ) {
      total += n;
    }
    return total;
  }

  /** The same, each chunk then copied to native memory as a native caller needs it. */
  public static long readToNative(FSDataInputStream in, byte[] buffer, ByteBuffer nativeMemory)
      throws IOException {
    long total = 0;
    for (int n; (n = in.read(buffer, 0, buffer.length)) > 0; ) {
      nativeMemory.clear();
      nativeMemory.put(buffer, 0, n);
      total += n;
    }
    return total;
  }

  /** Positioned reads of consecutive chunks up to length; the bytes read. */
  public static long pread(FSDataInputStream in, byte[] buffer, long length) throws IOException {
    long total = 0;
    for (int n; total < length && (n = in.read(total, buffer, 0, buffer.length)) > 0; ) {
      total += n;
    }
    return total;
  }

  /** Writes total bytes in chunks of the array's size. */
  public static void write(FSDataOutputStream out, byte[] buffer, long total) throws IOException {
    for (long done = 0; done < total; done += buffer.length) {
      out.write(buffer, 0, buffer.length);
    }
  }

  public static void copyFromLocal(FileSystem fs, String local, String destination)
      throws IOException {
    fs.copyFromLocalFile(new Path(local), new Path(destination));
  }

  /** The Java client's own copy, as a process: put LOCAL URI PATH, or get URI PATH LOCAL. */
  public static void main(String[] args) throws Exception {
    Configuration conf = new Configuration();
    boolean put = args[0].equals("put");
    try (FileSystem fs = FileSystem.newInstance(new URI(args[put ? 2 : 1]), conf)) {
      if (put) {
        fs.copyFromLocalFile(new Path(args[1]), new Path(args[3]));
      } else {
        fs.copyToLocalFile(false, new Path(args[2]), new Path(args[3]), true);
      }
    }
  }
}
