// The GigE data streams over a fake service.
#include "ProducerFixture.h"
