package qxtest;

/** Found only once its class directory is added to the running JVM's class path. */
public class InDirectory {
  public static int answer() {
    return 7;
  }
}
