#pragma once

// One running client per desktop user.

// Touches the shared signal folder (creating it and its file "1" when
// missing) so that a running instance, which watches the folder, brings its
// window forward. Retries once a second until the folder can be created.
void activateExistentProcess();

// Takes the per-user lock ("/var/tmp/lockfile-<user>"). True when this
// process now holds it; the lock lives as long as the process.
bool checkOnly();
