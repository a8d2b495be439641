package qxhost.cluster;

import java.io.BufferedInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.SecureRandom;
import java.util.Arrays;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Semaphore;
import java.util.function.Function;

/**
 * A detached cluster's commands: a loopback port, one connection per command, its line starting
 * with the token cluster.info gives beside the port. Whoever else may connect can stop nothing:
 * each connection has a few seconds and a short line to say what it wants, on a thread of its
 * own (a slow sender keeps no one else waiting), and a connection that fails in any way is told
 * on the log and forgotten while the port goes on serving.
 */
final class ControlPort {
  /** How long a connection may take to send its line, and how long the line may be. */
  static final int TIME_LIMIT_MILLIS = 5_000;
  static final int LONGEST_LINE = 1024;
  /** Connections served at once; one more is closed at once. */
  private static final int AT_ONCE = 8;

  private final ServerSocket socket;
  private final String token = newToken();
  private final Function<String[], String> commands;
  private final Semaphore free = new Semaphore(AT_ONCE);
  private final ExecutorService connections = Executors.newCachedThreadPool(runnable -> {
    Thread thread = new Thread(runnable, "control connection");
    thread.setDaemon(true);
    return thread;
  });

  ControlPort(Function<String[], String> commands) throws IOException {
    this.commands = commands;
    socket = new ServerSocket(0, 50, InetAddress.getLoopbackAddress());
  }

  int port() {
    return socket.getLocalPort();
  }

  String token() {
    return token;
  }

  /** Serves connections until the port is closed. */
  void serve() {
    while (!socket.isClosed()) {
      Socket client;
      try {
        client = socket.accept();
      } catch (IOException e) {
        if (!socket.isClosed()) {
          System.err.println("control port: " + e);
        }
        continue;
      }
      if (!free.tryAcquire()) {
        close(client);
        continue;
      }
      connections.execute(() -> {
        try {
          serve(client);
        } finally {
          free.release();
        }
      });
    }
  }

  void close() {
    close(socket);
    connections.shutdownNow();
  }

  private void serve(Socket client) {
    try (client) {
      client.setSoTimeout(TIME_LIMIT_MILLIS);
      PrintStream output = new PrintStream(client.getOutputStream(), true, StandardCharsets.UTF_8);
      String line = readLine(new BufferedInputStream(client.getInputStream()));
      if (line == null) {
        output.println("error no command within " + TIME_LIMIT_MILLIS / 1000 + " s or "
            + LONGEST_LINE + " bytes");
        return;
      }
      String[] words = line.trim().split("\\s+");
      if (words.length < 2 || !MessageDigest.isEqual(words[0].getBytes(StandardCharsets.UTF_8),
          token.getBytes(StandardCharsets.UTF_8))) {
        output.println("error not this cluster's token");
        return;
      }
      output.println(commands.apply(Arrays.copyOfRange(words, 1, words.length)));
    } catch (IOException | RuntimeException e) {
      System.err.println("control connection from " + client.getRemoteSocketAddress() + ": " + e);
    }
  }

  /**
   * A line within the limits of length and time, or null when the sender went past either (or
   * closed before the line's end).
   */
  private static String readLine(InputStream input) throws IOException {
    long deadline = System.currentTimeMillis() + TIME_LIMIT_MILLIS;
    ByteArrayOutputStream line = new ByteArrayOutputStream();
    for (int c; (c = input.read()) != '\n'; ) {
      if (c < 0 || line.size() >= LONGEST_LINE || System.currentTimeMillis() > deadline) {
        return null;
      }
      line.write(c);
    }
    return line.toString(StandardCharsets.UTF_8);
  }

  private static void close(java.io.Closeable closeable) {
    try {
      closeable.close();
    } catch (IOException e) {
      // nothing to tell: it is gone either way
    }
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
}
