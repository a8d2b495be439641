package qxtest;

import java.io.IOException;
import org.apache.hadoop.io.LongWritable;
import org.apache.hadoop.io.Text;
import org.apache.hadoop.mapreduce.Mapper;

/** A word count's mapper that fails on the line "poison", as a mapper with a bug would. */
public class FailingWords extends Mapper<Object, Text, Text, LongWritable> {
  @Override
  protected void map(Object key, Text line, Context context)
      throws IOException, InterruptedException {
    if (line.toString().equals("poison")) {
      throw new IllegalStateException("FailingWords cannot take the line at offset " + key);
    }
    for (String word : line.toString().split("\\s+")) {
      if (!word.isEmpty()) {
        context.write(new Text(word), new LongWritable(1));
      }
    }
  }
}
