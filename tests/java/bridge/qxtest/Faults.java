package qxtest;

import java.io.IOException;

/** Exceptions of known shapes for the exception reporting tests. */
public class Faults {
  public static Throwable withCause() {
    return new IllegalStateException("outer", new IOException("inner"));
  }

  public static Throwable withoutFrames() {
    Exception exception = new Exception("no frames", new RuntimeException("the cause"));
    exception.setStackTrace(new StackTraceElement[0]);
    return exception;
  }

  /** A chain whose causes come back round: a, b, a, b, ... */
  public static Throwable looping() {
    Exception a = new Exception("a");
    Exception b = new Exception("b", a);
    a.initCause(b);
    return a;
  }

  /** A text beyond the BMP, in CJK and with a combining mark. */
  public static Throwable worldText() {
    return new IllegalArgumentException("smile-\uD83D\uDE00 \u6587\u5B57 e\u0301");
  }
}
