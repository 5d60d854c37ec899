// The page's address carries the open server and the selected node
// (#host=...&node=...), so that a link, or a reload, opens the same node.

// The address's fragment for a server and a node; id null names none.
export function addressHash(host, id) {
  const params = new URLSearchParams({ host });
  if (id !== null) params.set('node', id);
  return `#${params}`;
}

// { host, node } from a fragment: host '' and node null where it names none.
export function parseAddress(hash) {
  const params = new URLSearchParams(hash.startsWith('#') ? hash.slice(1) : hash);
  return { host: (params.get('host') || '').trim(), node: params.get('node') };
}

// Replaces the address without adding to the history: moving around the
// tree is not a visit to another page.
export function setAddress(host, id) {
  history.replaceState(null, '', addressHash(host, id));
}

export function readAddress() {
  return parseAddress(location.hash);
}

// Calls back with the address when another one is pasted into the address
// bar of the open page.
export function onAddressChange(changed) {
  window.addEventListener('hashchange', () => changed(readAddress()));
}
