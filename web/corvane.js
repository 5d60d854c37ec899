// The Corvane page: a server's node tree (server.js, tree.js) with the
// selected node's details beside it (details.js), and forms for several
// nodes at once (forms.js), all sending the gateway's modes (gateway.js)
// and showing what it answers. This module starts the page: who you are,
// the server form, the address, and the saved preferences (prefs.js).
import { onAddressChange, readAddress } from './address.js';
import { Details } from './details.js';
import { setUpForms } from './forms.js';
import { getUser, isAdmin } from './gateway.js';
import { Preferences } from './prefs.js';
import { ServerTree } from './server.js';
import { code, onSubmit, showStatus } from './status.js';

const $ = (id) => document.getElementById(id);

// The parts call each other through these hooks only once the page runs.
const server = new ServerTree({
  opened: (host) => prefs.serverOpened(host),
  changed: () => prefs.scheduleSave(),
  selected: (node) => details.show(node),
  renamed: (node) => details.renamed(node),
  reloaded: (node) => details.reloaded(node),
});
const prefs = new Preferences(server);
const details = new Details(server);
setUpForms(server, prefs);

onSubmit($('server-form'), async () => {
  const host = $('host').value.trim();
  if (host !== '') server.open(host);
  const admin = await isAdmin(host, server.rootId);
  return [admin ? 'You are an administrator of ' : 'You are not an administrator of ', code(host), '.'];
});

// Opens the server an address names, and shows the node it names.
function follow(address) {
  server.wanted = address;
  $('host').value = address.host;
  $('server-form').requestSubmit();
}

// A link to another node pasted into the address bar of the open page.
onAddressChange(({ host, node }) => {
  if (host === '') return;
  if (host !== server.host) follow({ host, node });
  else if (node !== null) server.reveal(host, node);
});

getUser().then((user) => { $('user').textContent = user; }, (e) => showStatus($('user-status'), 'error', e.message));
const address = readAddress();
if (address.host !== '') follow(address);
prefs.load();
