import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.security.PrivilegedExceptionAction;
import java.util.Comparator;
import java.util.HashSet;
import java.util.Set;
import java.util.StringTokenizer;
import java.util.stream.Stream;
import javax.management.MBeanServer;
import javax.management.MalformedObjectNameException;
import javax.management.ObjectName;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.Path;
import org.apache.hadoop.io.LongWritable;
import org.apache.hadoop.io.Text;
import org.apache.hadoop.mapreduce.Job;
import org.apache.hadoop.mapreduce.Mapper;
import org.apache.hadoop.mapreduce.Reducer;
import org.apache.hadoop.mapreduce.lib.input.FileInputFormat;
import org.apache.hadoop.mapreduce.lib.output.FileOutputFormat;
import org.apache.hadoop.metrics2.lib.DefaultMetricsSystem;
import org.apache.hadoop.security.UserGroupInformation;

/**
 * The storage engine's map-reduce driver: a word count over files of the file system the
 * settings name, run by Hadoop's local job runner. Its output is Hadoop's part files of
 * "word TAB count" lines; its counters are printed when it is done. A job that cannot run or
 * fails throws, with the cause Hadoop gave, and leaves nothing registered or on disk behind.
 */
public final class DORNmap {
  /** The user the job runs as, when not the JVM's own (Hadoop's name for the job's user). */
  public static final String USER = "mapreduce.job.user.name";

  private static final String STAGING_ROOT = "mapreduce.jobtracker.staging.root.dir";
  private static final String RUNNER_METRICS =
      "Hadoop:service=JobTracker,name=LocalJobRunnerMetrics-*";

  public DORNmap() {}

  /**
   * @param settings KEY=VALUE pairs for the job's configuration (fs.defaultFS names the file
   *     system, mapreduce.job.user.name the user the job runs as)
   * @param args the input and output paths
   * @return 0 when the job succeeded
   * @throws IllegalArgumentException for arguments or settings it cannot use
   * @throws IOException when the job cannot run or fails, with Hadoop's reason
   */
  public int DORNmain(String[] settings, String[] args) throws Exception {
    if (args == null || args.length != 2) {
      throw new IllegalArgumentException("DORNmap: the arguments are INPUT and OUTPUT");
    }
    Configuration conf = new Configuration();
    conf.set("mapreduce.framework.name", "local");
    // The settings are applied here, as Hadoop's option parser would apply them.
    conf.setBoolean(Job.USED_GENERIC_PARSER, true);
    for (String setting : settings) {
      int equals = setting.indexOf('=');
      if (equals <= 0) {
        throw new IllegalArgumentException("DORNmap: a setting is not KEY=VALUE: " + setting);
      }
      conf.set(setting.substring(0, equals), setting.substring(equals + 1));
    }
    String user = conf.getTrimmed(USER, "");
    if (user.isEmpty() || user.equals(UserGroupInformation.getCurrentUser().getShortUserName())) {
      return count(conf, args[0], args[1]);
    }
    return UserGroupInformation.createRemoteUser(user)
        .doAs((PrivilegedExceptionAction<Integer>) () -> count(conf, args[0], args[1]));
  }

  /** Runs the word count; the local job runner's metrics and staging go with the job. */
  private static int count(Configuration conf, String input, String output) throws Exception {
    Set<ObjectName> registered = runnerMetrics();
    java.nio.file.Path staging = null;
    if (conf.get(STAGING_ROOT) == null) {
      staging = Files.createTempDirectory("dornmap-staging");
      conf.set(STAGING_ROOT, staging.toString());
    }
    try (Job job = Job.getInstance(conf, "DORNmap word count")) {
      job.setJarByClass(DORNmap.class);
      job.setMapperClass(Words.class);
      job.setCombinerClass(Sum.class);
      job.setReducerClass(Sum.class);
      job.setOutputKeyClass(Text.class);
      job.setOutputValueClass(LongWritable.class);
      FileInputFormat.addInputPath(job, new Path(input));
      FileOutputFormat.setOutputPath(job, new Path(output));
      if (!job.waitForCompletion(false)) {
        throw new IOException(
            "DORNmap: the job " + job.getJobID() + " failed: " + job.getStatus().getFailureInfo());
      }
      System.out.println(job.getCounters());
      return 0;
    } finally {
      unregisterSince(registered);
      if (staging != null) {
        removeTree(staging);
      }
    }
  }

  /** The metrics sources of local job runners, as the platform's MBean server lists them. */
  private static Set<ObjectName> runnerMetrics() throws MalformedObjectNameException {
    MBeanServer server = ManagementFactory.getPlatformMBeanServer();
    return new HashSet<>(server.queryNames(new ObjectName(RUNNER_METRICS), null));
  }

  /** Each job's local runner registers a metrics source of its own: it goes with the job. */
  private static void unregisterSince(Set<ObjectName> before) throws MalformedObjectNameException {
    for (ObjectName bean : runnerMetrics()) {
      if (!before.contains(bean)) {
        DefaultMetricsSystem.instance().unregisterSource(bean.getKeyProperty("name"));
      }
    }
  }

  private static void removeTree(java.nio.file.Path root) throws IOException {
    try (Stream<java.nio.file.Path> paths = Files.walk(root)) {
      paths.sorted(Comparator.reverseOrder()).forEach(path -> path.toFile().delete());
    }
  }

  /** Each word of a line, counted once. */
  public static final class Words extends Mapper<Object, Text, Text, LongWritable> {
    private static final LongWritable ONE = new LongWritable(1);
    private final Text word = new Text();

    @Override
    protected void map(Object key, Text line, Context context)
        throws IOException, InterruptedException {
      StringTokenizer words = new StringTokenizer(line.toString());
      while (words.hasMoreTokens()) {
        word.set(words.nextToken());
        context.write(word, ONE);
      }
    }
  }

  /** The counts of one word, added up. */
  public static final class Sum extends Reducer<Text, LongWritable, Text, LongWritable> {
    @Override
    protected void reduce(Text word, Iterable<LongWritable> counts, Context context)
        throws IOException, InterruptedException {
      long sum = 0;
      for (LongWritable count : counts) {
        sum += count.get();
      }
      context.write(word, new LongWritable(sum));
    }
  }
}
