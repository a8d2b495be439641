package qxtest;

/** Overrides a method of Bridge, for virtual against non-virtual calls. */
public class Derived extends Bridge {
  public Derived(int value) {
    super(value);
  }

  @Override
  public String describe() {
    return "derived";
  }
}
