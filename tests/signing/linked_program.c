/* The program the end-to-end tagging tests link for each format (PE32 with
 * the i686 toolchain, PE32+ with the x86-64 one), then sign and tag as they
 * would a stub: a real image with sections, imports and relocations. */
int main(void) { return 0; }
