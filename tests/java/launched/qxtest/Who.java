package qxtest;

import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.FileSystem;
import org.apache.hadoop.fs.Path;
import org.apache.hadoop.security.UserGroupInformation;

/**
 * A main class for JarDORN that tells whom it runs as: prints Hadoop's current user, then makes
 * the file its first argument names on the default file system (its owner is who the file system
 * took it for); with "sleep" after it, it then waits ten minutes.
 */
public class Who {
  public static void main(String[] args) throws Exception {
    System.out.println("Who: " + UserGroupInformation.getCurrentUser().getShortUserName());
    System.out.flush();
    if (args.length > 0) {
      FileSystem.get(new Configuration()).create(new Path(args[0])).close();
    }
    if (args.length > 1 && args[1].equals("sleep")) {
      Thread.sleep(600_000);
    }
  }
}
