// The page's address: a server and a node in the fragment, through
// address.js's exports.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { addressHash, parseAddress } from '../../web/address.js';

test('a link names the server and the node, each escaped whole', () => {
  assert.equal(addressHash('media1:7549', '/media/trailer'), '#host=media1%3A7549&node=%2Fmedia%2Ftrailer');
  assert.equal(addressHash('h', null), '#host=h');
});

test('every server and node comes back from its link as it was', () => {
  const cases = [
    ['h:1', '/'], ['h:db', '/a b/c'], ['h', '/a&node=/b'], ['h', '/x#y'], ['h', '/100%+1'],
    ['h', "/Cuts & Co/<img src=x onerror=alert(1)>"], ['h', '/été/日本'], ['h', ''], ['h', null],
  ];
  for (const [host, node] of cases) {
    assert.deepEqual(parseAddress(addressHash(host, node)), { host, node }, `${host} ${node}`);
  }
});

test('addresses typed or sent by hand', () => {
  const cases = [
    ['', { host: '', node: null }],
    ['#', { host: '', node: null }],
    ['#host=%20h%3A1%20', { host: 'h:1', node: null }],
    ['#node=%2Fa', { host: '', node: '/a' }],
    ['#host=h&node=/a/b', { host: 'h', node: '/a/b' }],
    ['#host=h&node=/a+b', { host: 'h', node: '/a b' }],
    ['#host=h&host=other&node=/a&node=/b', { host: 'h', node: '/a' }],
    ['#garbage=%ZZ', { host: '', node: null }],
  ];
  for (const [hash, address] of cases) assert.deepEqual(parseAddress(hash), address, hash);
});
