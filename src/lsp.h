// The language server: orvane in an editor, over the Language Server Protocol on standard input
// and output. Each warning is a diagnostic at the exact range of its number, each number that
// would be rewritten a code action, and formatting gives the filter's result as the smallest
// edits; documents are filtered by the embedding API's runs, side by side.
#pragma once

// Serves the client on descriptors in and out until it says exit, or goes away. Returns the exit
// status the protocol asks for: 0 after shutdown and exit, 1 otherwise.
int serve_language_server(int in, int out);
