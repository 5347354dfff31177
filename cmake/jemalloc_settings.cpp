// Settings read by jemalloc when a program linked with it starts (the MALLOC_CONF environment
// variable still overrides them). A run frees the hashed tables of its keys while it builds the
// sorted ones, and the statistics of a file's parts as it merges them: pages left empty go back
// to the system within a fifth of a second instead of ten, so that the memory a large log takes
// at its peak is close to what the run holds. Giving them back at once (0) saves a little more
// memory but costs a folder of small logs a tenth of its time in system calls.
extern "C" {
extern const char* malloc_conf;
const char* malloc_conf = "dirty_decay_ms:200,muzzy_decay_ms:0";
}
