// SimOS: a host object over the simulated machine.
#pragma once
