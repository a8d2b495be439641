package qxhost;

import java.io.File;
import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLClassLoader;

/**
 * The JVM's system class loader when the host kernel runs it: jars and directories can be added
 * after the JVM exists, and every thread and resource lookup sees them.
 */
public final class AppendableClassLoader extends URLClassLoader {
  static {
    ClassLoader.registerAsParallelCapable();
  }

  public AppendableClassLoader(ClassLoader parent) {
    super(new URL[0], parent);
  }

  /**
   * Adds an existing jar file or directory. A path that is missing when first looked up would
   * stay dead for this loader, so missing paths are refused.
   */
  public boolean addPath(String path) throws MalformedURLException {
    File file = new File(path);
    if (!file.exists()) {
      return false;
    }
    URL url = file.getAbsoluteFile().toURI().toURL();
    for (URL known : getURLs()) {
      if (known.equals(url)) {
        return true;
      }
    }
    addURL(url);
    return true;
  }

  /** Called by the JVM for -javaagent and by tools; keeps the loader usable as a system loader. */
  void appendToClassPathForInstrumentation(String path) throws MalformedURLException {
    addPath(path);
  }
}
