// The host support layer: the module's thin layer over its host.  One
// include for the families of the layer.
#pragma once

#include "host/by_sync.h"
#include "host/fields.h"
#include "host/internal_error.h"
#include "host/interrupt.h"
#include "host/message_text.h"
#include "host/object_dispatch.h"
#include "host/output_table.h"
#include "host/print_setup.h"
#include "host/scratch_file.h"
