.pragma library

// The offset that centres a child as Qt Quick Layouts did, so that pages laid
// out without them look the same: both sizes rounded (the child's up), then
// the offset rounded.
function centred(outer, inner) {
    return Math.round((Math.round(outer) - Math.ceil(inner)) / 2);
}
