package qxtest;

import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.TimeUnit;

/** Methods of every return type for the bridge's tests; calls counts the methods that ran. */
public class Bridge {
  public static int calls;
  public static int staticField = 5;
  public int instanceField;

  private static final CyclicBarrier everyone = new CyclicBarrier(16);

  public Bridge(int value) {
    instanceField = value;
  }

  public Bridge(String text) {
    throw new IllegalArgumentException("refused: " + text);
  }

  public static boolean flag() {
    calls++;
    return true;
  }

  public static short shortValue() {
    calls++;
    return (short) -2;
  }

  public static int add(int a, int b) {
    calls++;
    return a + b;
  }

  public static long longValue() {
    calls++;
    return 0x1122334455667788L;
  }

  public static long addLong(long a, long b) {
    return a + b;
  }

  public static String greet(String name) {
    calls++;
    return "hello " + name;
  }

  public static int[] numbers() {
    calls++;
    return new int[] {1, 2, 3};
  }

  public static void touch() {
    calls++;
  }

  public static byte byteValue() {
    calls++;
    return 1;
  }

  public static char charValue() {
    calls++;
    return 'c';
  }

  public static float floatValue() {
    calls++;
    return 1.5f;
  }

  public static double doubleValue() {
    calls++;
    return 2.5;
  }

  public static void fail() {
    throw new IllegalStateException("deliberate");
  }

  public int getValue() {
    return instanceField;
  }

  public String describe() {
    return "base";
  }

  /**
   * Returns only when sixteen threads are inside at once, so a caller that holds a lock across
   * the Java call makes it time out (-1).
   */
  public static int rendezvous(int value) {
    try {
      everyone.await(20, TimeUnit.SECONDS);
      return value * 2;
    } catch (Exception timedOutOrBroken) {
      return -1;
    }
  }
}
