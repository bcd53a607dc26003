// A stand-in engine for the launch benchmark: exits at once.
int main(void) {
  return 0;
}
