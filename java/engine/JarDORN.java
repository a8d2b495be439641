import java.io.File;
import java.io.FileNotFoundException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;

/**
 * The storage engine's jar entry: runs the main class of a jar in a class loader of its own,
 * with the engine's arguments. An exception of the main method comes out as it was thrown.
 */
public final class JarDORN {
  private JarDORN() {}

  /**
   * @param jarAndClass the jar's path and the name of its main class
   * @param args what the main method receives
   */
  public static void run(String[] jarAndClass, String[] args) throws Exception {
    if (jarAndClass == null || jarAndClass.length != 2) {
      throw new IllegalArgumentException("JarDORN.run needs a jar and its main class");
    }
    File jar = new File(jarAndClass[0]);
    if (!jar.isFile()) {
      throw new FileNotFoundException("JarDORN: no jar " + jar);
    }
    Thread thread = Thread.currentThread();
    ClassLoader previous = thread.getContextClassLoader();
    try (URLClassLoader loader =
        new URLClassLoader(new URL[] {jar.toURI().toURL()}, JarDORN.class.getClassLoader())) {
      Method main = Class.forName(jarAndClass[1], true, loader).getMethod("main", String[].class);
      thread.setContextClassLoader(loader);
      main.invoke(null, (Object) args);
    } catch (InvocationTargetException e) {
      Throwable cause = e.getCause();
      if (cause instanceof Exception) {
        throw (Exception) cause;
      }
      throw e;
    } finally {
      thread.setContextClassLoader(previous);
    }
  }
}
