package qxtest;

/** A main class for JarDORN that fails with a cause. */
public class Thrower {
  public static void main(String[] args) throws Exception {
    throw new IllegalStateException("launched and failed", new java.io.IOException("the cause"));
  }
}
