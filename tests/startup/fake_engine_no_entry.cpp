// A library that loads but exports no engine entry.
extern "C" int SomethingElse() {
    return 0;
}
