// Settings read by jemalloc when a program linked with it starts (the MALLOC_CONF environment
// variable still overrides them). A run frees the hashed tables of its keys while it builds the
// sorted ones, and the statistics of a file's parts as it merges them: pages left empty go back
// to the system at once instead of after ten seconds, so that the memory a large log takes at
// its peak is what the run holds, not what it held a moment before.
extern "C" {
extern const char* malloc_conf;
const char* malloc_conf = "dirty_decay_ms:0,muzzy_decay_ms:0";
}
