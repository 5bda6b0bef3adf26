// Server options beyond the listening address.
#pragma once

// Whether replies leave at once instead of waiting on delayed
// acknowledgements (about 40 ms per round trip otherwise). A unit of its own
// so that a benchmark build can link a variant measuring the library default.
bool serverNoDelay();
