// The worker as one function, whose source the page turns into a worker of its own: from
// file://, a worker may not load a script by its path.
function orvaneWorker() {
