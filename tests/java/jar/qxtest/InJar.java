package qxtest;

/** Found only once its jar is added to the running JVM's class path. */
public class InJar {
  public static int answer() {
    return 42;
  }
}
