// The GigE device module over a fake service.
#include "ProducerFixture.h"
