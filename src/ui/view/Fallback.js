.pragma library

// The text to show for a value that may be missing: the overview and its
// leaderboards treat undefined, null and "" alike.
function text(value, fallback) {
    return (value === undefined || value === null || value === "") ? fallback : value;
}
