// Uses an export of the "example" resource, which it depends on.

"use strict";

const example = findResourceByName("example");
console.log(example.exports.greet("server owner"));
