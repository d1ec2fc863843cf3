// filespec/ sits below search/: this include points the wrong way.
#include "search/search.h"
