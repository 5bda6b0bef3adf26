// The state format of the test plug-in test_chunks: "CVTS", the payload
// length (32-bit little-endian), the payload, its FNV-1a hash.

function fnv1a(bytes) {
  let hash = 0x811c9dc5;
  for (const byte of bytes) {
    hash ^= byte;
    hash = Math.imul(hash, 0x01000193) >>> 0;
  }
  return hash;
}

/** A state the test plug-in accepts, carrying `payload`. */
export function stateBlob(payload) {
  const blob = new Uint8Array(payload.length + 12);
  const view = new DataView(blob.buffer);
  blob.set([0x43, 0x56, 0x54, 0x53]);
  view.setUint32(4, payload.length, true);
  blob.set(payload, 8);
  view.setUint32(8 + payload.length, fnv1a(payload), true);
  return blob;
}

/** True when `blob` is a state the test plug-in would accept. */
export function isStateBlob(blob) {
  if (blob.length < 12 || String.fromCharCode(...blob.subarray(0, 4)) !== 'CVTS') return false;
  const view = new DataView(blob.buffer, blob.byteOffset, blob.byteLength);
  const length = view.getUint32(4, true);
  return length === blob.length - 12 && view.getUint32(8 + length, true) === fnv1a(blob.subarray(8, 8 + length));
}
