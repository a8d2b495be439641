import java.io.IOException;
import java.util.StringTokenizer;
import org.apache.hadoop.conf.Configuration;
import org.apache.hadoop.fs.Path;
import org.apache.hadoop.io.LongWritable;
import org.apache.hadoop.io.Text;
import org.apache.hadoop.mapreduce.Job;
import org.apache.hadoop.mapreduce.Mapper;
import org.apache.hadoop.mapreduce.Reducer;
import org.apache.hadoop.mapreduce.lib.input.FileInputFormat;
import org.apache.hadoop.mapreduce.lib.output.FileOutputFormat;

/**
 * The storage engine's map-reduce driver: a word count over files of the file system the
 * settings name, run by Hadoop's local job runner. Its output is Hadoop's part files of
 * "word TAB count" lines; its counters are printed when it is done.
 */
public final class DORNmap {
  public DORNmap() {}

  /**
   * @param settings KEY=VALUE pairs for the job's configuration (fs.defaultFS names the file
   *     system)
   * @param args the input and output paths
   * @return 0 when the job succeeded, 1 when it failed (the reason on standard error), 2 for
   *     arguments it cannot use
   */
  public int DORNmain(String[] settings, String[] args)
      throws IOException, InterruptedException, ClassNotFoundException {
    if (args == null || args.length != 2) {
      System.err.println("DORNmap: the arguments are INPUT and OUTPUT");
      return 2;
    }
    Configuration conf = new Configuration();
    conf.set("mapreduce.framework.name", "local");
    for (String setting : settings) {
      int equals = setting.indexOf('=');
      if (equals <= 0) {
        throw new IllegalArgumentException("DORNmap: a setting is not KEY=VALUE: " + setting);
      }
      conf.set(setting.substring(0, equals), setting.substring(equals + 1));
    }
    Job job = Job.getInstance(conf, "DORNmap word count");
    job.setJarByClass(DORNmap.class);
    job.setMapperClass(Words.class);
    job.setCombinerClass(Sum.class);
    job.setReducerClass(Sum.class);
    job.setOutputKeyClass(Text.class);
    job.setOutputValueClass(LongWritable.class);
    FileInputFormat.addInputPath(job, new Path(args[0]));
    FileOutputFormat.setOutputPath(job, new Path(args[1]));
    try {
      if (!job.waitForCompletion(false)) {
        System.err.println("DORNmap: the job failed: " + job.getStatus().getFailureInfo());
        return 1;
      }
    } catch (IOException e) {
      System.err.println("DORNmap: the job cannot run: " + e.getMessage());
      return 1;
    }
    System.out.println(job.getCounters());
    return 0;
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
