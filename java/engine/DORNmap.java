import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.security.PrivilegedExceptionAction;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.StringTokenizer;
import java.util.TreeSet;
import java.util.stream.Stream;
import javax.management.MBeanServer;
import javax.management.MalformedObjectNameException;
import javax.management.ObjectName;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.Path;
import org.apache.hadoop.io.LongWritable;
import org.apache.hadoop.io.Text;
import org.apache.hadoop.mapred.JobConf;
import org.apache.hadoop.mapreduce.Counter;
import org.apache.hadoop.mapreduce.CounterGroup;
import org.apache.hadoop.mapreduce.Counters;
import org.apache.hadoop.mapreduce.Job;
import org.apache.hadoop.mapreduce.MRJobConfig;
import org.apache.hadoop.mapreduce.Mapper;
import org.apache.hadoop.mapreduce.Reducer;
import org.apache.hadoop.mapreduce.TaskCompletionEvent;
import org.apache.hadoop.mapreduce.lib.input.FileInputFormat;
import org.apache.hadoop.mapreduce.lib.output.FileOutputFormat;
import org.apache.hadoop.metrics2.lib.DefaultMetricsSystem;
import org.apache.hadoop.security.UserGroupInformation;
import org.apache.hadoop.util.NativeCodeLoader;

/**
 * The storage engine's map-reduce driver: a word count over files of the file system the
 * settings name. It runs on YARN when its configuration says so (mapreduce.framework.name=yarn,
 * from the settings or from mapred-site.xml on the class path), its jar shipped with the job, and
 * with Hadoop's local job runner otherwise. Its output is Hadoop's part files of "word TAB count"
 * lines. A job that cannot run or fails throws, with the cause Hadoop gave (on YARN, the failed
 * task's diagnostics), and leaves nothing registered or on disk behind.
 *
 * <p>With the setting dornmap.status=FILE it keeps FILE up to date with one JSON document: the
 * job's id, its state, the map and reduce progress, and at the end the elapsed seconds, the
 * counters and the hosts its map tasks ran on; without it the counters are printed at the end.
 */
public final class DORNmap {
  /** The user the job runs as, when not the JVM's own (Hadoop's name for the job's user). */
  public static final String USER = "mapreduce.job.user.name";
  /** Where the job's state is kept as it runs. */
  public static final String STATUS = "dornmap.status";

  private static final String STAGING_ROOT = "mapreduce.jobtracker.staging.root.dir";
  private static final String RUNNER_METRICS =
      "Hadoop:service=JobTracker,name=LocalJobRunnerMetrics-*";
  private static final long POLL_MILLIS = 500;

  public DORNmap() {}

  /**
   * @param settings KEY=VALUE pairs for the job's configuration (fs.defaultFS names the file
   *     system, mapreduce.job.user.name the user the job runs as, dornmap.status a status file)
   * @param args the input and output paths
   * @return 0 when the job succeeded
   * @throws IllegalArgumentException for arguments or settings it cannot use
   * @throws IOException when the job cannot run or fails, with Hadoop's reason
   */
  public int DORNmain(String[] settings, String[] args) throws Exception {
    if (args == null || args.length != 2) {
      throw new IllegalArgumentException("DORNmap: the arguments are INPUT and OUTPUT");
    }
    Configuration conf = new JobConf(); // mapred-site.xml too, where the class path has one
    // The settings are applied here, as Hadoop's option parser would apply them.
    conf.setBoolean(Job.USED_GENERIC_PARSER, true);
    for (String setting : settings) {
      int equals = setting.indexOf('=');
      if (equals <= 0) {
        throw new IllegalArgumentException("DORNmap: a setting is not KEY=VALUE: " + setting);
      }
      conf.set(setting.substring(0, equals), setting.substring(equals + 1));
    }
    // Hadoop's MapReduce reads its spill files through SecureIOUtils, which under Kerberos
    // needs the native library: without it a job fails in its first task, after submission.
    if (UserGroupInformation.isSecurityEnabled() && !NativeCodeLoader.isNativeCodeLoaded()) {
      throw new IllegalStateException("DORNmap: Hadoop's MapReduce cannot run a job on a"
          + " Kerberos-secured cluster without Hadoop's native library (libhadoop), which this"
          + " JVM did not load; nothing was submitted");
    }
    String user = conf.getTrimmed(USER, "");
    UserGroupInformation current = UserGroupInformation.getCurrentUser();
    if (user.isEmpty() || user.equals(current.getShortUserName())) {
      return count(conf, args[0], args[1]);
    }
    // Under Kerberos another user is acted as through the login's own credentials.
    UserGroupInformation acting = UserGroupInformation.isSecurityEnabled()
        ? UserGroupInformation.createProxyUser(user, UserGroupInformation.getLoginUser())
        : UserGroupInformation.createRemoteUser(user);
    return acting.doAs((PrivilegedExceptionAction<Integer>) () -> count(conf, args[0], args[1]));
  }

  /**
   * Runs the word count; the local job runner's metrics and its files go with the job. Its
   * staging and spill files are kept in a directory only the user may enter, not in the shared
   * /tmp/hadoop-USER that another user could make first.
   */
  private static int count(Configuration conf, String input, String output) throws Exception {
    boolean local = conf.get("mapreduce.framework.name", "local").equals("local");
    Set<ObjectName> registered = runnerMetrics();
    java.nio.file.Path own = null;
    if (local) {
      own = Files.createTempDirectory("dornmap"); // 0700
      if (conf.get(STAGING_ROOT) == null) {
        conf.set(STAGING_ROOT, own.resolve("staging").toString());
      }
      String[] sources = conf.getPropertySources("hadoop.tmp.dir");
      if (sources == null || sources[0].equals("core-default.xml")) {
        conf.set("hadoop.tmp.dir", own.resolve("tmp").toString());
      }
    }
    try (Job job = Job.getInstance(conf, "DORNmap word count")) {
      job.setJarByClass(DORNmap.class);
      // A word count, unless the settings name classes of their own.
      if (conf.get(MRJobConfig.MAP_CLASS_ATTR) == null) {
        job.setMapperClass(Words.class);
      }
      if (conf.get(MRJobConfig.COMBINE_CLASS_ATTR) == null) {
        job.setCombinerClass(Sum.class);
      }
      if (conf.get(MRJobConfig.REDUCE_CLASS_ATTR) == null) {
        job.setReducerClass(Sum.class);
      }
      job.setOutputKeyClass(Text.class);
      job.setOutputValueClass(LongWritable.class);
      FileInputFormat.addInputPath(job, new Path(input));
      FileOutputFormat.setOutputPath(job, new Path(output));
      Status status = new Status(conf.get(STATUS));
      long started = System.nanoTime();
      job.submit();
      while (!job.isComplete()) {
        status.write(job, null);
        Thread.sleep(POLL_MILLIS);
      }
      status.write(job, (System.nanoTime() - started) / 1e9);
      if (!job.isSuccessful()) {
        throw new IOException(failure(job));
      }
      if (!status.kept()) {
        System.out.println(job.getCounters());
      }
      return 0;
    } finally {
      unregisterSince(registered);
      if (own != null) {
        removeTree(own);
      }
    }
  }

  /**
   * Why a job failed, its first line what a failed task said (the exception of a mapper, on
   * YARN), then the job's own failure information.
   */
  private static String failure(Job job) throws IOException, InterruptedException {
    String info = job.getStatus().getFailureInfo();
    String said = "";
    for (TaskCompletionEvent event : completionEvents(job)) {
      boolean failed = event.getStatus() == TaskCompletionEvent.Status.FAILED
          || event.getStatus() == TaskCompletionEvent.Status.TIPFAILED;
      String[] diagnostics =
          failed ? job.getTaskDiagnostics(event.getTaskAttemptId()) : new String[0];
      if (diagnostics.length > 0) {
        said = event.getTaskAttemptId() + ": " + diagnostics[0];
        break; // the first failed task's is the one that tells
      }
    }
    String first = (said.isEmpty() ? info : said).split("\n", 2)[0];
    return "DORNmap: the job " + job.getJobID() + " " + job.getJobState() + ": " + first
        + (said.isEmpty() ? "" : "\n" + said) + "\n" + info;
  }

  private static List<TaskCompletionEvent> completionEvents(Job job)
      throws IOException, InterruptedException {
    List<TaskCompletionEvent> events = new ArrayList<>();
    for (TaskCompletionEvent[] batch; (batch = job.getTaskCompletionEvents(events.size(), 1000))
        .length > 0; ) {
      events.addAll(Arrays.asList(batch));
    }
    return events;
  }

  /** The job's state as one JSON document in the status file, replaced whole each time. */
  private static final class Status {
    private final java.nio.file.Path file;

    Status(String file) {
      this.file = file == null || file.isEmpty() ? null : java.nio.file.Path.of(file);
    }

    boolean kept() {
      return file != null;
    }

    void write(Job job, Double elapsed) throws IOException, InterruptedException {
      if (file == null) {
        return;
      }
      StringBuilder json = new StringBuilder("{");
      json.append("\"id\":").append(quoted(String.valueOf(job.getJobID())));
      json.append(",\"state\":").append(quoted(String.valueOf(job.getJobState())));
      json.append(",\"map\":").append(job.mapProgress());
      json.append(",\"reduce\":").append(job.reduceProgress());
      if (elapsed != null) {
        json.append(",\"elapsed\":").append(String.format(Locale.ROOT, "%.3f", elapsed));
        json.append(",\"mapHosts\":").append(mapHosts(job));
        json.append(",\"counters\":").append(counters(job.getCounters()));
      }
      json.append("}\n");
      // A new file of a name no one can foresee (made exclusively, 0600), moved over the last.
      java.nio.file.Path written =
          Files.createTempFile(file.toAbsolutePath().getParent(), file.getFileName() + ".", ".part");
      try {
        Files.writeString(written, json.toString(), StandardCharsets.UTF_8);
        Files.move(written, file, StandardCopyOption.REPLACE_EXISTING,
            StandardCopyOption.ATOMIC_MOVE);
      } finally {
        Files.deleteIfExists(written);
      }
    }

    /** The hosts (as their web addresses) the succeeded map attempts ran on. */
    private static String mapHosts(Job job) throws IOException, InterruptedException {
      Set<String> hosts = new TreeSet<>();
      for (TaskCompletionEvent event : completionEvents(job)) {
        if (event.isMapTask() && event.getStatus() == TaskCompletionEvent.Status.SUCCEEDED) {
          hosts.add(quoted(event.getTaskTrackerHttp()));
        }
      }
      return "[" + String.join(",", hosts) + "]";
    }

    private static String counters(Counters counters) {
      if (counters == null) {
        return "{}";
      }
      List<String> groups = new ArrayList<>();
      for (CounterGroup group : counters) {
        List<String> values = new ArrayList<>();
        for (Counter counter : group) {
          values.add(quoted(counter.getDisplayName()) + ":" + counter.getValue());
        }
        groups.add(quoted(group.getDisplayName()) + ":{" + String.join(",", values) + "}");
      }
      return "{" + String.join(",", groups) + "}";
    }

    private static String quoted(String text) {
      StringBuilder quoted = new StringBuilder("\"");
      for (char c : text.toCharArray()) {
        if (c == '"' || c == '\\') {
          quoted.append('\\').append(c);
        } else if (c < 0x20) {
          quoted.append(String.format("\\u%04x", (int) c));
        } else {
          quoted.append(c);
        }
      }
      return quoted.append('"').toString();
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
