package qxhost.cluster;

import java.io.IOException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFileAttributes;
import java.util.Set;

/** The launcher's command line, and the directory it keeps the cluster in. */
final class Options {
  int dataNodes = 3;
  int nodeManagers = 2;
  String directory;
  boolean yarn;
  boolean ha;
  boolean secure;
  boolean detached;

  static Options parse(String[] args) {
    Options options = new Options();
    for (int i = 0; i < args.length; i++) {
      switch (args[i]) {
        case "--datanodes":
          options.dataNodes = Integer.parseInt(value(args, ++i));
          break;
        case "--nodemanagers":
          options.nodeManagers = Integer.parseInt(value(args, ++i));
          break;
        case "--dir":
          options.directory = value(args, ++i);
          break;
        case "--yarn":
          options.yarn = true;
          break;
        case "--ha":
          options.ha = true;
          break;
        case "--secure":
          options.secure = true;
          break;
        case "--detached":
          options.detached = true;
          break;
        default:
          throw new IllegalArgumentException("unknown option " + args[i]);
      }
    }
    if (options.secure && options.yarn) {
      throw new IllegalArgumentException("--secure does not combine with --yarn");
    }
    return options;
  }

  private static String value(String[] args, int i) {
    if (i >= args.length) {
      throw new IllegalArgumentException("missing value of " + args[i - 1]);
    }
    return args[i];
  }

  /**
   * The cluster's directory, the user's alone: made 0700 when it is not there (or a new temporary
   * one), refused when another user owns it or others may write it, and marked as a cluster's,
   * so that it alone is removed with the cluster. Hadoop's mini clusters turn its path into URIs
   * without quoting them: a path they would misread is refused here.
   */
  Path createDirectory() throws IOException {
    Path base;
    if (directory == null) {
      base = Files.createTempDirectory("qxcluster", Private.DIRECTORY);
    } else {
      requireUsablePath(directory);
      base = Path.of(directory).toAbsolutePath();
      try {
        Files.createDirectory(base, Private.DIRECTORY);
      } catch (FileAlreadyExistsException e) {
        requireOwnDirectory(base);
      }
    }
    Private.writeNew(base.resolve(EmbeddedCluster.MARKER),
        "an embedded cluster's data; removed with it\n");
    return base;
  }

  /** Characters Hadoop keeps as they are in a file URI. */
  static void requireUsablePath(String path) {
    if (!path.matches("[A-Za-z0-9/._+@=,~-]+")) {
      throw new IllegalArgumentException("--dir " + path
          + ": Hadoop's mini clusters cannot use a directory whose path holds a space or any of"
          + " \"%:#?&*\" (they put it into URIs unquoted)");
    }
  }

  /** A directory that is there must be this user's, and others must not write it. */
  static void requireOwnDirectory(Path path) throws IOException {
    PosixFileAttributes attributes =
        Files.readAttributes(path, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
    Set<PosixFilePermission> permissions = attributes.permissions();
    boolean othersWrite = permissions.contains(PosixFilePermission.GROUP_WRITE)
        || permissions.contains(PosixFilePermission.OTHERS_WRITE);
    if (!attributes.isDirectory()
        || !attributes.owner().getName().equals(System.getProperty("user.name")) || othersWrite) {
      throw new IllegalArgumentException("--dir " + path
          + ": not a directory of yours that only you may write");
    }
    try (var entries = Files.list(path)) {
      if (entries.findAny().isPresent()) {
        throw new IllegalArgumentException(
            "--dir " + path + ": not empty (the cluster removes its directory)");
      }
    }
  }
}
