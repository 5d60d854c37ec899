// The one way the page makes a node and the one way it destroys one, for
// the details panel and the forms under More alike: the gateway's mode,
// then the change shown in place in the open server's tree (server.js).
import * as gateway from './gateway.js';
import { asking, code, confirmDestroy, isBusy, runAction, showStatus, statusOf } from './status.js';

// Makes a node; resolves to what the form's status line shows. made() is
// called once the server made it, before the tree asks for the folder again.
export async function createNode(server, { host, parentId, displayName, type }, made = () => {}) {
  const id = await gateway.createNode(host, parentId, displayName, type);
  made();
  await server.made(host, parentId);
  return ['Created ', code(id), '.'];
}

// Destroys a node as the action of form, once the person confirmed it.
// ask() resolves to the question, or to null when the form already said
// why there is none.
export async function destroyNode(form, server, { host, id, recursive }, ask) {
  if (isBusy(form) || asking()) return;
  const question = await ask();
  if (!question) return;
  if (!(await confirmDestroy(...question))) {
    showStatus(statusOf(form), 'ok', 'Nothing was destroyed.');
    return;
  }
  runAction(form, async () => {
    await gateway.destroyNode(host, id, recursive);
    server.destroyed(host, id);
    return ['Destroyed ', code(id), '.'];
  });
}
