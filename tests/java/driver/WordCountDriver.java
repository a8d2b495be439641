import java.io.IOException;
import java.util.StringTokenizer;
import org.apache.hadoop.conf.Configured;
import org.apache.hadoop.fs.Path;
import org.apache.hadoop.io.LongWritable;
import org.apache.hadoop.io.Text;
import org.apache.hadoop.mapreduce.Job;
import org.apache.hadoop.mapreduce.Mapper;
import org.apache.hadoop.mapreduce.Reducer;
import org.apache.hadoop.mapreduce.lib.input.FileInputFormat;
import org.apache.hadoop.mapreduce.lib.output.FileOutputFormat;
import org.apache.hadoop.util.Tool;
import org.apache.hadoop.util.ToolRunner;

/**
 * A Hadoop driver as users write them: ToolRunner, a Job submitted to the cluster its
 * configuration names, the job's outcome as the exit status. "WordCountDriver IN OUT" counts
 * words; "WordCountDriver --exit N" ends with status N at once.
 */
public class WordCountDriver extends Configured implements Tool {
  public static void main(String[] args) throws Exception {
    System.exit(ToolRunner.run(new WordCountDriver(), args));
  }

  @Override
  public int run(String[] args) throws Exception {
    if (args[0].equals("--exit")) {
      return Integer.parseInt(args[1]);
    }
    Job job = Job.getInstance(getConf(), "driver word count");
    job.setJarByClass(WordCountDriver.class);
    job.setMapperClass(Words.class);
    job.setCombinerClass(Sum.class);
    job.setReducerClass(Sum.class);
    job.setOutputKeyClass(Text.class);
    job.setOutputValueClass(LongWritable.class);
    FileInputFormat.addInputPath(job, new Path(args[0]));
    FileOutputFormat.setOutputPath(job, new Path(args[1]));
    if (job.waitForCompletion(false)) {
      return 0;
    }
    System.err.println("WordCountDriver: " + job.getStatus().getFailureInfo());
    return 1;
  }

  public static class Words extends Mapper<Object, Text, Text, LongWritable> {
    @Override
    protected void map(Object key, Text line, Context context)
        throws IOException, InterruptedException {
      StringTokenizer words = new StringTokenizer(line.toString());
      while (words.hasMoreTokens()) {
        context.write(new Text(words.nextToken()), new LongWritable(1));
      }
    }
  }

  public static class Sum extends Reducer<Text, LongWritable, Text, LongWritable> {
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
