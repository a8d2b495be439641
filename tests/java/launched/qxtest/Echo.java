package qxtest;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/** A main class for JarDORN: writes its arguments after the first, one a line, to the first. */
public class Echo {
  public static void main(String[] args) throws Exception {
    StringBuilder lines = new StringBuilder();
    for (int i = 1; i < args.length; i++) {
      lines.append(args[i]).append('\n');
    }
    Files.write(Path.of(args[0]), lines.toString().getBytes(StandardCharsets.UTF_8));
  }
}
