package qxtest;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * A main class for JarDORN that ends the way its second argument says: "exit N", "halt N",
 * "thread" (returns, leaving a thread that never ends), "throw"; it first writes to its first
 * argument whether its static initialiser saw a context class loader that finds this class, and
 * the log level the launching JVM was given (a -D setting).
 */
public class Exiter {
  private static final boolean CONTEXT_SET =
      Thread.currentThread().getContextClassLoader() != null
          && Thread.currentThread().getContextClassLoader().getResource("qxtest/Exiter.class")
              != null;

  public static void main(String[] args) throws Exception {
    String level = System.getProperty("org.slf4j.simpleLogger.defaultLogLevel");
    Files.write(
        Path.of(args[0]),
        ("context " + CONTEXT_SET + ", log level " + level + "\n").getBytes(StandardCharsets.UTF_8));
    System.err.println("Exiter: " + args[1]);
    switch (args[1]) {
      case "exit":
        System.exit(Integer.parseInt(args[2]));
        break;
      case "halt":
        Runtime.getRuntime().halt(Integer.parseInt(args[2]));
        break;
      case "thread":
        Thread forever = new Thread(() -> {
          while (true) {
            try {
              Thread.sleep(1000);
            } catch (InterruptedException e) {
              return;
            }
          }
        });
        forever.start();
        break;
      case "throw":
        throw new IllegalStateException("thrown by the main");
      default:
        break;
    }
  }
}
