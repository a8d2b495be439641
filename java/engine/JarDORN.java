import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.File;
import java.io.FileDescriptor;
import java.io.FileNotFoundException;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.lang.management.ManagementFactory;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.PrivilegedExceptionAction;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.Deque;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.FileSystem;
import org.apache.hadoop.security.Credentials;
import org.apache.hadoop.security.UserGroupInformation;

/**
 * The storage engine's jar entry: runs the main class of a jar in a JVM of its own, so that
 * nothing the main does (System.exit, Runtime.halt, threads it leaves running) reaches the
 * engine's JVM. The child JVM is this JVM's java.home with this JVM's class path plus the jar,
 * the same -D settings and module openings; its standard output and error are the engine's own.
 *
 * <p>The child acts as the user this JVM acts as (Hadoop's current user): with simple
 * authentication by that name (HADOOP_USER_NAME); under Kerberos with delegation tokens of the
 * default file system that this JVM obtains for it (HADOOP_TOKEN_FILE_LOCATION, a file only
 * this user may read, removed when the child ends), as YARN hands its containers their user.
 * The child's life is tied to this JVM's: it halts when this JVM's process ends, and this JVM
 * destroys it when it shuts down first.
 */
public final class JarDORN {
  /** Lines of the child's standard error a failure carries. */
  private static final int TAIL_LINES = 10;
  /** How long the copy of the child's standard error may go on after the child ended. */
  private static final long DRAIN_MILLIS = 2000;
  /** The child's exit status when its parent went away first (as after SIGTERM). */
  private static final int PARENT_GONE = 143;
  /** Under Kerberos: the user the child acts as, with the tokens its parent obtained. */
  private static final String ACTING_USER = "jardorn.user";

  private JarDORN() {}

  /**
   * @param jarAndClass the jar's path and the name of its main class
   * @param args what the main method receives
   * @throws IOException naming the exit status and the last lines of the child's standard error
   *     when the child ends with a status other than 0
   */
  public static void run(String[] jarAndClass, String[] args) throws Exception {
    if (jarAndClass == null || jarAndClass.length != 2) {
      throw new IllegalArgumentException("JarDORN.run needs a jar and its main class");
    }
    File jar = new File(jarAndClass[0]);
    if (!jar.isFile()) {
      throw new FileNotFoundException("JarDORN: no jar " + jar);
    }
    List<String> command = new ArrayList<>();
    command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
    command.addAll(settings());
    command.add("-cp");
    command.add(classPath(jar));
    command.add(JarDORN.class.getName());
    command.add(jarAndClass[1]);
    command.addAll(Arrays.asList(args == null ? new String[0] : args));
    ProcessBuilder builder =
        new ProcessBuilder(command)
            .redirectOutput(ProcessBuilder.Redirect.INHERIT)
            .redirectError(ProcessBuilder.Redirect.PIPE);
    Path tokens = actAsThisUser(builder, command);
    Process child = builder.start();
    Thread reaper = new Thread(child::destroyForcibly, "JarDORN child of " + jarAndClass[1]);
    Runtime.getRuntime().addShutdownHook(reaper);
    int status;
    Tail tail = new Tail(child.getErrorStream(), new FileOutputStream(FileDescriptor.err));
    try {
      child.getOutputStream().close(); // the child reads no input of the engine's
      Thread copier = new Thread(tail, "JarDORN stderr of " + jarAndClass[1]);
      copier.setDaemon(true); // a grandchild may keep the pipe open: never wait for it
      copier.start();
      status = child.waitFor();
      copier.join(DRAIN_MILLIS);
    } finally {
      child.destroyForcibly();
      removeQuietly(tokens);
      try {
        Runtime.getRuntime().removeShutdownHook(reaper);
      } catch (IllegalStateException e) {
        // this JVM is shutting down: the hook destroys the child
      }
    }
    if (status != 0) {
      throw new IOException(
          "JarDORN: " + jarAndClass[1] + " of " + jar + " ended with exit status " + status
              + tail.lines());
    }
  }

  /**
   * In the child JVM: runs the main class with the context class loader set before its static
   * initialisers run, and ends the JVM when the main returns (threads it leaves running do not
   * keep it), with status 1 after printing what the main threw.
   */
  public static void main(String[] args) {
    // A child whose parent went away (killed, or gone without destroying it) ends too.
    ProcessHandle.current().parent().ifPresent(parent -> parent.onExit().thenRun(
        () -> Runtime.getRuntime().halt(PARENT_GONE)));
    ClassLoader loader = ClassLoader.getSystemClassLoader();
    Thread.currentThread().setContextClassLoader(loader);
    int status = 0;
    try {
      String user = System.getProperty(ACTING_USER);
      if (user == null) {
        runMain(loader, args);
      } else {
        // Under Kerberos: as the user, with the delegation tokens the parent obtained, which the
        // login user found in HADOOP_TOKEN_FILE_LOCATION.
        UserGroupInformation acting = UserGroupInformation.createRemoteUser(user);
        acting.addCredentials(UserGroupInformation.getLoginUser().getCredentials());
        acting.doAs((PrivilegedExceptionAction<Void>) () -> {
          runMain(loader, args);
          return null;
        });
      }
    } catch (InvocationTargetException e) {
      e.getCause().printStackTrace();
      status = 1;
    } catch (Exception | LinkageError e) {
      Throwable cause = e.getCause() instanceof InvocationTargetException ? e.getCause().getCause()
          : e;
      cause.printStackTrace();
      status = 1;
    }
    System.err.flush();
    System.out.flush();
    System.exit(status);
  }

  private static void runMain(ClassLoader loader, String[] args)
      throws ReflectiveOperationException {
    Class<?> type = Class.forName(args[0], false, loader);
    Method main = type.getMethod("main", String[].class);
    main.invoke(null, (Object) Arrays.copyOfRange(args, 1, args.length));
  }

  /**
   * Makes the child act as this JVM's current user; the token file made for it (to remove when
   * it ends), or null.
   */
  private static Path actAsThisUser(ProcessBuilder builder, List<String> command)
      throws IOException, InterruptedException {
    UserGroupInformation acting = UserGroupInformation.getCurrentUser();
    Map<String, String> environment = builder.environment();
    environment.remove("HADOOP_PROXY_USER");
    if (!UserGroupInformation.isSecurityEnabled()) {
      environment.put("HADOOP_USER_NAME", acting.getShortUserName());
      return null;
    }
    Credentials credentials = new Credentials();
    String renewer = UserGroupInformation.getRealUserOrSelf(acting).getShortUserName();
    acting.doAs((PrivilegedExceptionAction<Void>) () -> {
      FileSystem.get(new Configuration()).addDelegationTokens(renewer, credentials);
      return null;
    });
    Path directory = Files.createTempDirectory("jardorn"); // 0700
    Path tokens = Files.createFile(directory.resolve("tokens"),
        PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-------")));
    try (DataOutputStream out = new DataOutputStream(Files.newOutputStream(tokens))) {
      credentials.writeTokenStorageToStream(out);
    }
    environment.put(UserGroupInformation.HADOOP_TOKEN_FILE_LOCATION, tokens.toString());
    command.add(command.indexOf("-cp"), "-D" + ACTING_USER + "=" + acting.getShortUserName());
    builder.command(command);
    return directory;
  }

  private static void removeQuietly(Path directory) {
    if (directory == null) {
      return;
    }
    try (Stream<Path> paths = Files.walk(directory)) {
      paths.sorted(Comparator.reverseOrder()).forEach(path -> path.toFile().delete());
    } catch (IOException e) {
      // what cannot be listed cannot be removed either
    }
  }

  /** The -D settings and module options this JVM was started with, but its class path. */
  private static List<String> settings() {
    List<String> kept = new ArrayList<>();
    for (String argument : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
      boolean setting = argument.startsWith("-D") || argument.startsWith("--add-opens")
          || argument.startsWith("--add-exports")
          || argument.equals("-XX:+IgnoreUnrecognizedVMOptions");
      if (setting && !argument.startsWith("-Djava.class.path=")) {
        kept.add(argument);
      }
    }
    return kept;
  }

  /** This JVM's class path (the host keeps it telling what was added since), then the jar. */
  private static String classPath(File jar) {
    List<String> items = new ArrayList<>();
    for (String item : System.getProperty("java.class.path", "").split(File.pathSeparator)) {
      if (!item.isEmpty()) {
        items.add(item);
      }
    }
    items.add(jar.getAbsolutePath());
    return String.join(File.pathSeparator, items);
  }

  /** Copies the child's standard error through and keeps its last lines. */
  private static final class Tail implements Runnable {
    private static final int LONGEST_LINE = 1000;
    private final InputStream from;
    private final OutputStream to;
    private final Deque<String> last = new ArrayDeque<>();
    private final ByteArrayOutputStream line = new ByteArrayOutputStream();

    Tail(InputStream from, OutputStream to) {
      this.from = from;
      this.to = to;
    }

    @Override
    public void run() {
      byte[] buffer = new byte[8192];
      try {
        for (int n; (n = from.read(buffer)) > 0; ) {
          to.write(buffer, 0, n);
          keep(buffer, n);
        }
      } catch (IOException e) {
        // the child is gone; what came through is kept
      }
    }

    private synchronized void keep(byte[] bytes, int count) {
      for (int i = 0; i < count; i++) {
        if (bytes[i] == '\n') {
          last.addLast(line.toString(StandardCharsets.UTF_8));
          line.reset();
          if (last.size() > TAIL_LINES) {
            last.removeFirst();
          }
        } else if (line.size() < LONGEST_LINE) {
          line.write(bytes[i]);
        }
      }
    }

    synchronized String lines() {
      if (last.isEmpty() && line.size() == 0) {
        return " (nothing on its standard error)";
      }
      StringBuilder text = new StringBuilder("; the last lines of its standard error:");
      for (String kept : last) {
        text.append('\n').append(kept);
      }
      if (line.size() > 0) {
        text.append('\n').append(line.toString(StandardCharsets.UTF_8));
      }
      return text.toString();
    }
  }
}
