package qxhost.cluster;

import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.Map;
import java.util.Properties;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.minikdc.MiniKdc;
import org.apache.hadoop.security.UserGroupInformation;

/**
 * The Kerberos side of a secured embedded cluster: Hadoop's MiniKdc on loopback, the service
 * principals of the name and data nodes (hdfs/localhost, and HTTP/localhost for their web
 * servers) in a keytab of the cluster's own, and two user principals, alice and bob, each in a
 * keytab beside the client configuration. alice may act as bob (a proxy user); bob may not act
 * as anyone. The KDC's files and the keytabs are the cluster user's alone (the launcher's umask,
 * in directories only that user may enter).
 */
final class SecureRealm {
  static final String[] USERS = {"alice", "bob"};
  private static final String SERVICE = "hdfs/localhost";
  private static final String WEB = "HTTP/localhost";

  private final MiniKdc kdc;
  private final File serviceKeytab;

  /** Starts the KDC with its data in directory, and makes the principals and their keytabs. */
  SecureRealm(Path directory, Path clientDirectory) throws Exception {
    Properties settings = MiniKdc.createConf();
    settings.setProperty(MiniKdc.KDC_BIND_ADDRESS, "localhost");
    kdc = new MiniKdc(settings, Private.directory(directory).toFile());
    kdc.start();
    serviceKeytab = directory.resolve("hdfs.keytab").toFile();
    kdc.createPrincipal(serviceKeytab, SERVICE, WEB);
    for (String user : USERS) {
      kdc.createPrincipal(clientDirectory.resolve(user + ".keytab").toFile(), user);
    }
    Files.copy(kdc.getKrb5conf().toPath(), clientDirectory.resolve("krb5.conf"),
        StandardCopyOption.REPLACE_EXISTING);
  }

  String realm() {
    return kdc.getRealm();
  }

  String principal(String name) {
    return name + "@" + realm();
  }

  /**
   * What the name and data nodes need: Kerberos for every RPC, their principals and keytab, block
   * access tokens, no privileged ports (ignore.secure.ports.for.testing, as Hadoop's own secure
   * mini clusters run), and alice as a proxy user for bob. Clients need the first and the
   * principals (ClientConfiguration). The launcher's own calls log in as the service.
   */
  void secure(Configuration conf) throws Exception {
    conf.set("hadoop.security.authentication", "kerberos");
    conf.set("hadoop.security.authorization", "true");
    conf.set("dfs.namenode.kerberos.principal", principal(SERVICE));
    conf.set("dfs.datanode.kerberos.principal", principal(SERVICE));
    conf.set("dfs.namenode.keytab.file", serviceKeytab.getPath());
    conf.set("dfs.datanode.keytab.file", serviceKeytab.getPath());
    conf.set("dfs.web.authentication.kerberos.principal", principal(WEB));
    conf.set("dfs.web.authentication.kerberos.keytab", serviceKeytab.getPath());
    conf.set("dfs.namenode.kerberos.internal.spnego.principal", principal(WEB));
    conf.setBoolean("dfs.block.access.token.enable", true);
    conf.setBoolean("ignore.secure.ports.for.testing", true);
    conf.set("hadoop.proxyuser.alice.hosts", "*");
    conf.set("hadoop.proxyuser.alice.users", "bob");
    UserGroupInformation.setConfiguration(conf);
    UserGroupInformation.loginUserFromKeytab(principal(SERVICE), serviceKeytab.getPath());
  }

  /** The facts a client needs to log in: the realm, krb5.conf and the users' keytabs. */
  void describe(Map<String, String> info, Path clientDirectory) {
    info.put("realm", realm());
    info.put("krb5", clientDirectory.resolve("krb5.conf").toString());
    for (String user : USERS) {
      info.put("keytab." + user, clientDirectory.resolve(user + ".keytab").toString());
      info.put("principal." + user, principal(user));
    }
  }

  void stop() {
    kdc.stop();
  }
}
