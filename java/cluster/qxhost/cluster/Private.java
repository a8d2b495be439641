package qxhost.cluster;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Set;

/**
 * Files and directories only the cluster's user may read: made with their mode, never given it
 * afterwards (the launcher also runs with the umask 077, for what Hadoop makes itself).
 */
final class Private {
  static final FileAttribute<Set<PosixFilePermission>> DIRECTORY =
      PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------"));
  static final FileAttribute<Set<PosixFilePermission>> FILE =
      PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-------"));

  private Private() {}

  /** A directory of the user's alone (and its missing parents, the same). */
  static Path directory(Path path) throws IOException {
    return Files.createDirectories(path, DIRECTORY);
  }

  /** A new file of the user's alone with its text; an existing one is refused. */
  static Path writeNew(Path file, String text) throws IOException {
    Files.createFile(file, FILE);
    return Files.writeString(file, text, StandardCharsets.UTF_8, StandardOpenOption.WRITE,
        StandardOpenOption.TRUNCATE_EXISTING);
  }
}
