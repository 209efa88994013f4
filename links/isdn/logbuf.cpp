#include "links/isdn/logbuf.h"

namespace ISDN {

char logbuf[logbuf_size];

}  // namespace ISDN
