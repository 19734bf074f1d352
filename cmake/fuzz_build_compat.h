/* Included first in every source of the clang fuzz build.
   Clang 14 cannot build per-ISA clones of function templates (target_clones),
   so here such functions are compiled once, for the baseline instruction set:
   the same source the clones are made from. The attribute name inside
   __attribute__((...)) is expanded like any identifier, so defining it away
   leaves an empty, valid attribute list. */
#define target_clones(...)
